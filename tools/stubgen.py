"""Write type stubs for lumeric_py from the interface records of a built library.

    stubgen.py LIBRARY OUTPUT_DIR

Reads the records from the library's symbol table (without importing it) and writes a
stub-only package OUTPUT_DIR/lumeric_py-stubs with __init__.pyi (the top-level module)
and geometry.pyi (the submodule, which exists only as an attribute at runtime).
"""

import keyword
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from records import library_records  # noqa: E402

COMPARISONS = {"__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__"}


class Interface:
    def __init__(self, records):
        self.modules = [r for r in records if r["type"] == "module"]
        self.classes = {r["id"]: r for r in records if r["type"] == "class"}
        self.functions = [r for r in records if r["type"] == "function"]
        self.by_id = {r["id"]: r for r in records if "id" in r}
        # The module each class lives in; a class listed nowhere (an iterator) lives at the top.
        self.home = {}
        for module in self.modules:
            for member in module["members"]:
                self.home[member] = module["name"]
        self.top = next(m["name"] for m in self.modules if m["name"] not in self.submodule_names())

    def submodule_names(self):
        names = set()
        for module in self.modules:
            for member in module["members"]:
                if self.by_id.get(member, {}).get("type") == "module":
                    names.add(self.by_id[member]["name"])
        return names

    def module_of(self, class_id):
        return self.home.get(class_id, self.top)


class Writer:
    def __init__(self, interface: Interface, module: str):
        self.api, self.module = interface, module

    def expr(self, e) -> str:
        kind = e["type"]
        if kind == "name":
            return e["id"]
        if kind == "attribute":
            return f"{self.expr(e['value'])}.{e['attr']}"
        if kind == "id":
            cls = self.api.classes[e["id"]]
            home = self.api.module_of(e["id"])
            return cls["name"] if home == self.module else f"{self.qualified(home)}.{cls['name']}"
        if kind == "subscript":
            return f"{self.expr(e['value'])}[{self.expr(e['slice'])}]"
        if kind == "tuple":
            return ", ".join(self.expr(x) for x in e["elts"])
        if kind == "binop":
            return f"{self.expr(e['left'])} | {self.expr(e['right'])}"
        if kind == "constant":
            return "None"
        raise ValueError(f"unknown annotation {e}")

    def qualified(self, module):
        return module if module == self.api.top else f"{self.api.top}.{module}"

    def signature(self, f) -> str:
        args = f["arguments"]
        positional_only = [a["name"] for a in args.get("posonlyargs", [])]
        ordinary = [f"{a['name']}: {self.expr(a['annotation'])}" + (f" = {a['default']}" if "default" in a else "")
                    for a in args.get("args", [])]
        # A parameter named by a Python keyword (`from`) cannot be spelled in a stub: it and
        # those before it become positional-only, with a trailing underscore.
        keywords = [i for i, a in enumerate(args.get("args", [])) if keyword.iskeyword(a["name"])]
        if keywords:
            cut = keywords[-1] + 1
            for i in range(cut):
                name = args["args"][i]["name"]
                if keyword.iskeyword(name):
                    ordinary[i] = ordinary[i].replace(name, name + "_", 1)
            positional_only += ordinary[:cut]
            ordinary = ordinary[cut:]
        # Operator methods are called by the interpreter with positional arguments only.
        if f["name"].startswith("__") and f["name"].endswith("__") and f["name"] != "__new__":
            positional_only, ordinary = positional_only + ordinary, []
        keyword_only = [f"{a['name']}: {self.expr(a['annotation'])} = {a['default']}" for a in args.get("kwonlyargs", [])]
        parts = positional_only + (["/"] if positional_only else []) + ordinary + (["*"] if keyword_only else []) + keyword_only
        return f"def {f['name']}({', '.join(parts)}) -> {self.expr(f['returns'])}: ..."

    def decorators(self, f):
        out = []
        for d in f.get("decorators", []):
            if d["type"] == "attribute" and d["attr"] == "setter":
                out.append(f"@{d['value']['attr']}.setter")
            else:
                out.append(f"@{self.expr(d)}")
        return out

    @staticmethod
    def order(f):
        """__new__, properties (getter before setter), static methods, methods, then operators."""
        decorators = [d.get("attr") or d.get("id") for d in f.get("decorators", [])]
        name = f["name"]
        if name == "__new__":
            return (0, name, 0)
        if "property" in decorators or "setter" in decorators:
            return (1, name, 1 if "setter" in decorators else 0)
        if "staticmethod" in decorators:
            return (2, name, 0)
        return (4 if name.startswith("__") else 3, name, 0)

    def function(self, f, indent=""):
        lines = [indent + d for d in self.decorators(f)]
        text = self.signature(f)
        args = f["arguments"].get("args", [])
        # The classes compare only with their own kind, narrower than object's signature.
        if f["name"] in COMPARISONS and args and "Any" not in text:
            text += "  # type: ignore[override]"
        lines.append(indent + text)
        return lines

    def klass(self, c):
        methods = sorted((f for f in self.api.functions if f.get("parent") == c["id"]), key=self.order)
        bases = ", ".join(self.expr(b) for b in c.get("bases", []))
        lines = [f"@{self.expr(d)}" for d in c["decorators"]] + [f"class {c['name']}({bases}):" if bases
                                                                 else f"class {c['name']}:"]
        if "match_args" in c:  # a named tuple's fields, for pattern matching
            lines.append(f"    __match_args__: typing.Final = {tuple(c['match_args'])!r}")
        names = {f["name"] for f in methods}
        for f in methods:
            lines += self.function(f, "    ")
        if "__eq__" in names and "__hash__" not in names:
            lines.append("    __hash__: typing.ClassVar[None]  # type: ignore[assignment]")
        if len(lines) == 2:
            lines.append("    ...")
        return lines

    def write(self) -> str:
        module = next(m for m in self.api.modules if m["name"] == self.module)
        members = [self.api.by_id[i] for i in module["members"]]
        lines = [
            f'"""Type stubs for {self.qualified(self.module)}, generated from the library\'s interface records."""',
            "",
            "import _typeshed",
            "import builtins",
            "import collections.abc",
            "import typing",
        ]
        if self.module != self.api.top:
            lines.append(f"import {self.api.top}")
        lines.append("")
        for member in members:
            if member["type"] == "module":
                lines.append(f"from . import {member['name']} as {member['name']}")
        lines.append(f"__all__ = {[m['name'] for m in members]!r}")
        classes = [m for m in members if m["type"] == "class"]
        if self.module == self.api.top:
            classes += [c for i, c in self.api.classes.items() if i not in self.api.home]
        for c in classes:
            lines += ["", ""] + self.klass(c)
        for f in (m for m in members if m["type"] == "function"):
            lines += ["", ""] + self.function(f)
        if any("= math.inf" in line for line in lines):  # a default spelled as the interpreter reads it
            lines.insert(lines.index("import typing"), "import math")
        return "\n".join(lines) + "\n"


def generate(library: str, output: str) -> None:
    api = Interface([record for _, record in library_records(library)])
    package = os.path.join(output, f"{api.top}-stubs")
    os.makedirs(package, exist_ok=True)
    for module in api.modules:
        name = "__init__" if module["name"] == api.top else module["name"]
        with open(os.path.join(package, f"{name}.pyi"), "w") as out:
            out.write(Writer(api, module["name"]).write())


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    generate(sys.argv[1], sys.argv[2])
