#!/usr/bin/env bash
# tools/tasks.sh: the build, demo, test, benchmark and chart steps, run with a CPython 3.14 toolchain
# already in place (tools/py314 calls this on the host or inside its toolchain root).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

VENV=build/venv
PY=$VENV/bin/python

say() { printf '[tasks] %s\n' "$*" >&2; }

venv() {
  if [ ! -x "$PY" ]; then
    say "creating $VENV (system site packages: numpy, scipy, pytest, hypothesis, glm)"
    python3.14 -m venv --system-site-packages "$VENV"
  fi
}

install_module() {
  venv
  say "building and installing lumeric_py"
  "$PY" -m pip install --no-build-isolation --no-deps --no-index -q . \
    --config-settings=build-dir=build/wheel --config-settings=cmake.define.LUMERIC_WERROR=ON
}

cxx_tests() {
  say "building and running the C++ suites"
  cmake -S . -B build/cxx -G Ninja -DLUMERIC_PYTHON=OFF -DLUMERIC_TESTS=ON -DLUMERIC_WERROR=ON >/dev/null
  cmake --build build/cxx
  ctest --test-dir build/cxx --output-on-failure -j2
}

python_tests() {
  say "running the Python suite"
  "$PY" -m pytest tests "$@"
}

# The README's API reference is generated from the built library's interface records.
api_reference_check() {
  say "checking that the README's API reference matches the built library"
  "$PY" tools/apiref.py
}

# -- Reliability checks (tools/py314 check) --
#
# The records test reads the library file and runs mypy; it exercises no module code worth
# repeating here, so both checks leave it out.

# Reference leaks: the Python suite under the debug interpreter, every test repeated by the leak
# hunter (tools/leak_hunter.py), against the module built for that interpreter.
leak_check() {
  command -v python3.14-dbg >/dev/null || { say "python3.14-dbg is missing (Debian package python3.14-dbg)"; exit 1; }
  say "building lumeric_py for the debug interpreter (build/pydbg)"
  cmake -S . -B build/pydbg -G Ninja -DLUMERIC_TESTS=OFF -DLUMERIC_WERROR=ON \
    -DPython_EXECUTABLE=/usr/bin/python3.14-dbg >/dev/null
  cmake --build build/pydbg
  say "running the Python suite under python3.14-dbg, each test repeated, looking for leaks"
  PYTHONPATH=build/pydbg/lumeric-py:lumeric-dask python3.14-dbg -m pytest -p no:cacheprovider --leaks tests \
    --ignore tests/test_records.py "$@"
}

# Memory errors: the core, the pool and the module built with AddressSanitizer and
# UndefinedBehaviorSanitizer; the C++ suites, then the Python suite with both runtimes preloaded
# into the (uninstrumented) interpreter. PYTHONMALLOC=malloc puts the interpreter's objects on the
# instrumented heap too, so overruns of module objects are caught and LeakSanitizer can see every
# pointer to them; tools/lsan.supp lists the few leaks of other software.
sanitizer_check() {
  say "building with AddressSanitizer and UndefinedBehaviorSanitizer (build/asan)"
  cmake -S . -B build/asan -G Ninja -DLUMERIC_SANITIZE=ON -DLUMERIC_TESTS=ON -DLUMERIC_PYTHON=ON \
    -DLUMERIC_WERROR=ON -DPython_EXECUTABLE=/usr/bin/python3.14 >/dev/null
  cmake --build build/asan
  local options=abort_on_error=0:halt_on_error=1:print_stacktrace=1
  say "running the C++ suites under the sanitizers"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=$options ctest --test-dir build/asan --output-on-failure -j2
  say "running the Python suite under the sanitizers"
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
    ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=$options PYTHONMALLOC=malloc PYTHONPATH=build/asan/lumeric-py:lumeric-dask \
    python3.14 -m pytest -p no:cacheprovider tests --ignore tests/test_records.py "$@"
}

# Data races: the core, the pool and the batch kernels built with ThreadSanitizer, and their C++
# suites run (the pool's with racing callers, nested batches and failures; the borrow counter's
# atomic form, the one a free-threaded interpreter uses, under racing threads). Any report fails
# the run. The module is not part of it: no interpreter here is built with ThreadSanitizer.
thread_check() {
  say "building the C++ suites with ThreadSanitizer (build/tsan)"
  cmake -S . -B build/tsan -G Ninja -DLUMERIC_SANITIZE_THREADS=ON -DLUMERIC_TESTS=ON -DLUMERIC_PYTHON=OFF \
    -DLUMERIC_WERROR=ON >/dev/null
  cmake --build build/tsan
  say "running the C++ suites under ThreadSanitizer"
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir build/tsan --output-on-failure -j2
}

# -- The release as users install it (tools/py314 wheel) --
#
# An sdist of the work tree; a wheel built from that sdist alone, unpacked in a scratch directory;
# the wheel installed into a fresh venv (system site packages for numpy, pytest and the rest); the
# Python suite run from a copy outside the work tree (tests with the tools, examples and benchmark
# scripts they read) against the installed package. So a file missing from the sdist, the wheel
# or its stubs fails here, though the work tree has it.
wheel_check() {
  local scratch
  scratch=$(mktemp -d)
  trap "rm -rf '$scratch'" EXIT
  say "building the sdist"
  python3.14 -m build --sdist --no-isolation --outdir "$scratch/dist" . >"$scratch/sdist.log" 2>&1 \
    || { cat "$scratch/sdist.log" >&2; exit 1; }
  local sdist
  sdist=$(echo "$scratch"/dist/*.tar.gz)
  mkdir "$scratch/src"
  tar -xzf "$sdist" -C "$scratch/src"
  say "building the wheel from $(basename "$sdist") alone"
  python3.14 -m build --wheel --no-isolation --outdir "$scratch/dist" "$scratch"/src/*/ >"$scratch/wheel.log" 2>&1 \
    || { tail -n 40 "$scratch/wheel.log" >&2; exit 1; }
  local wheel
  wheel=$(echo "$scratch"/dist/*.whl)
  say "auditwheel show $(basename "$wheel"):"
  python3.14 -m auditwheel show "$wheel" >&2 || true
  python3.14 -m venv --system-site-packages "$scratch/venv"
  "$scratch/venv/bin/python" -m pip install --no-index --no-deps -q "$wheel"
  mkdir "$scratch/suite"
  cp -r tests tools examples bench pyproject.toml "$scratch/suite/"
  cd "$scratch/suite"
  "$scratch/venv/bin/python" - "$scratch/venv" <<'CHECK'
import os, sys
import lumeric_dask, lumeric_py
venv = os.path.realpath(sys.argv[1]) + os.sep
for module in (lumeric_py, lumeric_dask):
    if not os.path.realpath(module.__file__).startswith(venv):
        sys.exit(f"{module.__name__} comes from {module.__file__}, not from the installed wheel")
CHECK
  say "running the Python suite against the installed wheel"
  "$scratch/venv/bin/python" -m pytest -p no:cacheprovider tests "$@"
}

case "${1:-}" in
  demo) install_module; "$PY" examples/demo.py ;;
  test) shift; cxx_tests; install_module; api_reference_check; python_tests "$@" ;;
  check) shift; thread_check; leak_check "$@"; sanitizer_check "$@" ;;
  bench) shift; install_module; for b in bench/bench_*.py; do "$PY" "$b" "$@"; done ;;
  plot) shift; install_module
    for b in vec3d angle_quat geometry vec_list dask dask_tree spatial cloud; do "$PY" "bench/bench_$b.py"; done
    "$PY" bench/plot.py ;;
  scale) shift; install_module; "$PY" bench/scale_vec_list.py "$@" ;;
  wheel) shift; wheel_check "$@" ;;
  *) say "usage: tasks.sh demo|test|check|bench|plot|scale|wheel"; exit 2 ;;
esac
