#!/usr/bin/env bash
# The C++ unit tests built with clang and ThreadSanitizer, in build/cpp-tsan.
# What the bulk calls run without the interpreter lock (the entropy states and
# their pool, the version 7 state), the version 1 clock sequence, the
# per-thread generator and the locks held across fork() are driven from many
# threads at once there, and this is the one run that looks for races among
# them. No suppressions: any report fails its test (halt_on_error), in a
# forked child too (its exit code, 66, fails the parent's test). The one test
# that starts a thread in the child of a multithreaded fork skips itself here.
# Usage: bash tests/stages/tsan.sh [extra ctest arguments]
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
if ! command -v clang++ >/dev/null 2>&1; then
    echo "error: clang++ not installed (bash tests/stages/packages.sh installs it)" >&2
    exit 1
fi
ensure_venv 3.12
venv="$ROOT/build/venv-3.12"
"$venv/bin/python" -m pip install -q --disable-pip-version-check cmake ninja
stage "ThreadSanitizer: configure and build build/cpp-tsan"
# RelWithDebInfo: the optimiser's reorderings are the ones shipped, and the
# reports still name lines.
CC=clang CXX=clang++ "$venv/bin/cmake" -S . -B build/cpp-tsan -G Ninja \
    -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRAND_BUILD_TESTS=ON -DKESTRAND_TSAN=ON -DKESTRAND_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
"$venv/bin/cmake" --build build/cpp-tsan --parallel "$(nproc)"
stage "ThreadSanitizer: ctest"
TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:history_size=4" \
    "$venv/bin/ctest" --test-dir build/cpp-tsan --output-on-failure --timeout 120 "$@"
stage "ThreadSanitizer run passed"
