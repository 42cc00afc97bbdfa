#!/usr/bin/env bash
# tools/tasks.sh: the build, demo, test and benchmark steps, run with a CPython 3.14 toolchain
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
    --config-settings=build-dir=build/wheel
}

cxx_tests() {
  say "building and running the C++ suites"
  cmake -S . -B build/cxx -G Ninja -DLUMERIC_PYTHON=OFF -DLUMERIC_TESTS=ON >/dev/null
  cmake --build build/cxx
  ctest --test-dir build/cxx --output-on-failure -j2
}

python_tests() {
  say "running the Python suite"
  "$PY" -m pytest tests "$@"
}

case "${1:-}" in
  demo) install_module; "$PY" examples/demo.py ;;
  test) shift; cxx_tests; install_module; python_tests "$@" ;;
  bench) shift; install_module; for b in bench/bench_*.py; do "$PY" "$b" "$@"; done ;;
  *) say "usage: tasks.sh demo|test|bench"; exit 2 ;;
esac
