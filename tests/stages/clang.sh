#!/usr/bin/env bash
# A second compiler keeps the sources portable: the module and the C++ tests
# built with clang (warnings as errors), and the Python tests run against that
# build.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
if ! command -v clang++ >/dev/null 2>&1; then
    echo "error: clang++ not installed (bash tests/stages/packages.sh installs it)" >&2
    exit 1
fi
ensure_venv 3.12
venv="$ROOT/build/venv-3.12"
stage "clang build: module and C++ tests in build/clang"
"$venv/bin/python" -m pip install -q --disable-pip-version-check cmake ninja
CC=clang CXX=clang++ "$venv/bin/cmake" -S . -B build/clang -G Ninja \
    -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
    -DCMAKE_BUILD_TYPE=Release \
    -DKESTRAND_BUILD_TESTS=ON -DKESTRAND_BUILD_BENCH=ON -DKESTRAND_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python"
"$venv/bin/cmake" --build build/clang --parallel "$(nproc)"
"$venv/bin/ctest" --test-dir build/clang --output-on-failure
stage "clang build: pytest tests/python"
PYTHONPATH="$ROOT/build/clang" "$venv/bin/python" -m pytest -q tests/python
