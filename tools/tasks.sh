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

case "${1:-}" in
  demo) install_module; "$PY" examples/demo.py ;;
  test) shift; cxx_tests; install_module; api_reference_check; python_tests "$@" ;;
  check) shift; leak_check "$@"; sanitizer_check "$@" ;;
  bench) shift; install_module; for b in bench/bench_*.py; do "$PY" "$b" "$@"; done ;;
  plot) shift; install_module
    for b in vec3d angle_quat geometry vec_list dask spatial; do "$PY" "bench/bench_$b.py"; done
    "$PY" bench/plot.py ;;
  scale) shift; install_module; "$PY" bench/scale_vec_list.py "$@" ;;
  *) say "usage: tasks.sh demo|test|check|bench|plot|scale"; exit 2 ;;
esac
