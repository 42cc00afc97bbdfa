"""Run mypy's stubtest on lumeric_py against the installed stubs.

The submodule `lumeric_py.geometry` is deliberately absent from sys.modules (it is only an
attribute of the top-level module), so stubtest could not import it to compare it with
geometry.pyi. This wrapper enters it in sys.modules for the check only, then runs stubtest
with the given arguments (default: lumeric_py).
"""

import sys
from pathlib import Path

import lumeric_py

sys.modules["lumeric_py.geometry"] = lumeric_py.geometry

from mypy.stubtest import main  # noqa: E402

if __name__ == "__main__":
    allowlist = str(Path(__file__).with_name("stubtest-allowlist.txt"))
    sys.argv = ["stubtest", "--allowlist", allowlist, *(sys.argv[1:] or ["lumeric_py"])]
    sys.exit(main())
