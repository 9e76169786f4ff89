#!/usr/bin/env bash
# Runs every test of the project from a clean clone:
#   - the Python test suite against a fresh install in a venv per Python version
#     (3.12 and 3.13), with compiler warnings treated as errors;
#   - the C++ unit tests (when tests/cpp exists) through CTest.
# Installs the Debian packages the tests need if they are missing.
# Usage: bash tests/run_all.sh      (from anywhere inside the repository)
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"
PYTHON_VERSIONS=(3.12 3.13)
APT_PACKAGES=(g++ binutils libgtest-dev googletest faketime libfaketime clang libclang-rt-14-dev)

stage() {
    printf '\n==== %s ====\n' "$*"
}

ensure_apt_packages() {
    local missing=() pkg
    for pkg in "${APT_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "all required packages present: ${APT_PACKAGES[*]}"
        return
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    echo "installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}

# The interpreter for a version: pythonX.Y on PATH (pyenv's shims resolve it
# through .python-version), else pyenv's own installation of it.
find_python() {
    local ver="$1" exe
    if exe="$(command -v "python$ver" 2>/dev/null)" && "$exe" -c 'pass' 2>/dev/null; then
        echo "$exe"
        return
    fi
    if command -v pyenv >/dev/null 2>&1; then
        local prefix
        prefix="$(pyenv prefix "$(pyenv versions --bare | grep -E "^${ver//./\\.}(\\.[0-9]+)?$" | tail -n 1)" 2>/dev/null || true)"
        if [ -n "$prefix" ] && [ -x "$prefix/bin/python$ver" ]; then
            echo "$prefix/bin/python$ver"
            return
        fi
    fi
    echo "error: python$ver not found (install it, e.g. with pyenv)" >&2
    return 1
}

python_suite() {
    local ver="$1" python venv
    python="$(find_python "$ver")"
    venv="$ROOT/build/venv-$ver"

    stage "Python $ver: venv in build/venv-$ver ($python)"
    if [ ! -x "$venv/bin/python" ]; then
        "$python" -m venv "$venv"
    fi
    "$venv/bin/python" -m pip install -q --disable-pip-version-check pytest mypy uuid-utils uuid6 hypothesis

    stage "Python $ver: build and install kestrand (warnings are errors)"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps . \
        -Ccmake.define.KESTRAND_WERROR=ON

    stage "Python $ver: pytest tests/python"
    "$venv/bin/python" -m pytest -q tests/python
}

cpp_suite() {
    if [ ! -f tests/cpp/CMakeLists.txt ]; then
        stage "C++ unit tests: skipped (no tests/cpp/CMakeLists.txt)"
        return
    fi
    local venv="$ROOT/build/venv-3.12"
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
}

# A second compiler keeps the sources portable: where clang is installed, the
# module and the C++ tests are built with it too (warnings as errors) and the
# Python tests run against that build.
clang_suite() {
    if ! command -v clang++ >/dev/null 2>&1; then
        stage "clang build: skipped (clang++ not installed)"
        return
    fi
    local venv="$ROOT/build/venv-3.12"
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
}

stage "System packages"
ensure_apt_packages

for ver in "${PYTHON_VERSIONS[@]}"; do
    python_suite "$ver"
done

cpp_suite
clang_suite

# Hostile input and long runs: every fuzz target for a bounded time from its
# seed corpus (tests/fuzz/run.sh builds its own clang build and venv), then the
# soak, a fixed million mixed calls and threads against forks.
fuzz_and_soak_suite() {
    stage "Fuzzing: every target for 40 s (tests/fuzz/run.sh)"
    bash tests/fuzz/run.sh 40
    stage "Soak: pytest tests/soak (Python 3.12)"
    "$ROOT/build/venv-3.12/bin/python" -m pytest -q tests/soak
}

fuzz_and_soak_suite

stage "All tests passed"
