#!/usr/bin/env bash
# Builds kestrand with AddressSanitizer and UndefinedBehaviorSanitizer (gcc)
# into its own venv, build/venv-asan (Python 3.12), and runs the Python test
# suite against it, then the C++ unit tests built the same way. The interpreter itself is not instrumented, so the ASan
# runtime (and the C++ runtime after it) is preloaded; leak detection is off because CPython deliberately
# leaves memory allocated at exit.
# Usage: bash tests/stages/sanitizers.sh [extra pytest arguments]
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
ROOT="$PWD"
VENV="$ROOT/build/venv-asan"

stage() {
    printf '\n==== %s ====\n' "$*"
}

PYTHON="$(command -v python3.12 || true)"
if [ -z "$PYTHON" ] || ! "$PYTHON" -c 'pass' 2>/dev/null; then
    echo "error: python3.12 not found" >&2
    exit 1
fi
ASAN_LIB="$(gcc -print-file-name=libasan.so)"
# The interpreter does not link the C++ runtime. Unless it is loaded right
# after the ASan runtime, ASan cannot find the real __cxa_throw to forward to
# and aborts at the first C++ exception the module throws.
CXX_LIB="$(g++ -print-file-name=libstdc++.so.6)"
for lib in "$ASAN_LIB" "$CXX_LIB"; do
    if [ ! -e "$lib" ]; then
        echo "error: $lib not found; install gcc and g++" >&2
        exit 1
    fi
done

stage "Sanitizer build: venv in build/venv-asan"
if [ ! -x "$VENV/bin/python" ]; then
    "$PYTHON" -m venv "$VENV"
fi
"$VENV/bin/python" -m pip install -q --disable-pip-version-check -r tests/requirements.txt cmake ninja

stage "Sanitizer build: build and install kestrand with ASan+UBSan"
# Own build directory, so switching between this and the normal build does not
# rebuild either from scratch. The runtime preloaded below is gcc's, so gcc
# must compile the module too.
CC=gcc CXX=g++ "$VENV/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps . \
    -Ccmake.define.KESTRAND_SANITIZE=ON \
    -Cbuild-dir="build/asan/{wheel_tag}"

stage "Sanitizer build: pytest tests/python"
LD_PRELOAD="$ASAN_LIB $CXX_LIB" \
ASAN_OPTIONS="detect_leaks=0" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "$VENV/bin/python" -m pytest -q tests/python "$@"

if [ -f tests/cpp/CMakeLists.txt ]; then
    stage "Sanitizer build: C++ unit tests"
    CC=gcc CXX=g++ "$VENV/bin/cmake" -S . -B build/cpp-asan -G Ninja \
        -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKESTRAND_BUILD_TESTS=ON -DKESTRAND_SANITIZE=ON -DKESTRAND_WERROR=ON \
        -DPython_EXECUTABLE="$VENV/bin/python" >/dev/null
    "$VENV/bin/cmake" --build build/cpp-asan --parallel "$(nproc)"
    ASAN_OPTIONS="detect_leaks=0" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
        "$VENV/bin/ctest" --test-dir build/cpp-asan --output-on-failure
fi

stage "Sanitizer run passed"
