# The memory sweep of test_memory.py, run in a child process per owner (class or module):
#     python memory_sweep.py OWNER
# prints "ENTRY label outcomes... last outcome" for each entry point and "FAIL label pressure
# problem" for each call that ended otherwise than without the limit or with MemoryError, changed
# its receiver or left a borrow.

import itertools, pickle, resource, sys
import numpy as np
try:  # the interpreter's test hooks: its allocations fail after a given count
    from _testcapi import remove_mem_hooks, set_nomemory
    nomemory = True
except ImportError:
    nomemory, remove_mem_hooks = False, lambda: None
OWNER = sys.argv[1] if __name__ == "__main__" else None
from helpers import CLASSES, ENTRIES, MODULES, entries, touch_exclusive

HEADROOMS = [0, 1 << 16, 1 << 20, 3 << 20, 8 << 20, 24 << 20, 96 << 20]
HARD = resource.getrlimit(resource.RLIMIT_AS)[1]
ROWS = np.random.default_rng(7).standard_normal((30_000, 3))
VECTORS = [CLASSES["Vec3d"](*row) for row in ROWS.tolist()]

def use(n):  # arguments of n rows (from_array's in each layout it reads differently: copy, gather, strides, rows)
    global DATA, PLAIN
    DATA = [ROWS[:n], ROWS[:n].astype(np.int32), ROWS[:n, ::-1], ROWS[:50].tolist()]
    # a float small enough that a radius search's balls stay within the largest headroom
    PLAIN = {"float": 0.1, "int": 1, "bool": True, "Sequence": VECTORS[:n]}

def make(name):  # a large instance where size means anything, through the class's records
    ctor = entries(name, "constructor")
    if ctor:
        return CLASSES[name](*(argument(t) for _, t in ctor[0].params))
    e = next(e for e in ENTRIES if e.returns == name and e.owner != name)
    return getattr(make(e.owner), e.name)()

def argument(t):
    return PLAIN[t] if t in PLAIN else DATA[0] if t == "Union" else make(t) if t in CLASSES else None

def calls():  # (label, make the receiver, call(receiver, *arguments), arguments, mutates) for each entry point
    module = {m.__name__.rpartition(".")[2]: m for m in MODULES}.get(OWNER)
    cls = CLASSES.get(OWNER)
    for e in entries(OWNER):
        # from_array's data in every layout it reads differently, other parameters one value each
        for k, values in enumerate(itertools.product(*(DATA if t == "Union" else [argument(t)] for _, t in e.params))):
            label, name = f"{OWNER}.{e.name}:{e.kind}" + (f"#{k}" if k else ""), e.name
            if e.kind in ("function", "constructor", "static"):
                target = cls if e.kind == "constructor" else getattr(module or cls, name)
                yield label, lambda: None, lambda r, *v, f=target: f(*v), values, False
            elif e.kind in ("getter", "setter"):
                access = getattr if e.kind == "getter" else setattr
                yield label, lambda: make(OWNER), lambda r, *v, a=access, n=name: a(r, n, *v), values, e.kind == "setter"
            else:
                mutates = e.returns == "None" or name == "__next__"
                yield label, lambda: make(OWNER), lambda r, *v, n=name: getattr(r, n)(*v), values, mutates
    if "__reduce__" in vars(cls or type(None)):
        for p in (2, 5):
            yield f"{OWNER} pickle {p}", lambda: make(OWNER), lambda r, p=p: pickle.loads(pickle.dumps(r, p)), (), False
    if "__buffer__" in vars(cls or type(None)):  # (numpy's own arithmetic is not ours to test)
        yield f"{OWNER} memoryview", lambda: make(OWNER), lambda r: memoryview(r).tolist(), (), False
        yield f"{OWNER} numpy", lambda: make(OWNER), lambda r: np.asarray(r), (), False

def state(value):  # the exact value of an object (its pickle), None for one that has none
    return pickle.dumps(value, 2) if "__reduce__" in vars(type(value)) else None

def outcome(call, receiver, values, pressure=(None, None)):  # pressure: (allocations that succeed, address space left)
    allowed, headroom = pressure
    if headroom is not None:
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + headroom, HARD))
    try:
        if allowed is not None:
            set_nomemory(allowed, 0)
        call(receiver, *values)
        got = "done"
    except BaseException as error:  # noqa: BLE001 - whatever comes out is the point
        got = error
    remove_mem_hooks()  # before anything else can allocate (a `finally` clause would)
    resource.setrlimit(resource.RLIMIT_AS, (HARD, HARD))
    return got if got == "done" else type(got).__name__

def pressures(rows):  # small values: one allocation more allowed each time (then half again as many); large
    if rows > 4:      # ones: address space for results of megabytes
        yield from ((None, headroom) for headroom in HEADROOMS)
    allowed = 0
    while nomemory and rows <= 4:
        yield allowed, None
        allowed = allowed + 1 if allowed < 32 else allowed * 3 // 2

def main():
    for rows in (4, 30_000):
        use(rows)
        for label, receive, call, values, mutates in calls():
            expected, seen = outcome(call, receive(), values), set()  # without a limit (and the pool is up)
            for pressure in pressures(rows):
                receiver = receive()
                before = state(receiver)
                got = outcome(call, receiver, values, pressure)
                seen.add(got)
                problem = got not in (expected, "MemoryError") and f"{got}, expected {expected}"
                if not problem and state(receiver) != before and not (mutates and got == "done"):
                    problem = "changed the receiver"
                try:
                    for value in (receiver, *values):
                        touch_exclusive(value)
                except RuntimeError as error:
                    problem = problem or f"left a borrow: {error}"
                if problem:
                    print("FAIL", label, pressure, problem)
                if pressure[0] is not None and got != "MemoryError":  # the call got through
                    break
            print("ENTRY", label, *sorted(seen), "last", got)


if __name__ == "__main__":
    main()
