#!/usr/bin/env bash
# The C++ unit tests (tests/cpp), built with gcc, warnings as errors, through CTest.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
ensure_venv 3.12
venv="$ROOT/build/venv-3.12"
stage "C++ unit tests: configure build/cpp"
"$venv/bin/python" -m pip install -q --disable-pip-version-check cmake ninja
"$venv/bin/cmake" -S . -B build/cpp -G Ninja \
    -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
    -DCMAKE_BUILD_TYPE=Release \
    -DKESTRAND_BUILD_TESTS=ON -DKESTRAND_BUILD_BENCH=ON -DKESTRAND_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python"
stage "C++ unit tests: build"
"$venv/bin/cmake" --build build/cpp --parallel "$(nproc)"
stage "C++ unit tests: ctest"
"$venv/bin/ctest" --test-dir build/cpp --output-on-failure
