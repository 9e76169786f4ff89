#!/usr/bin/env bash
# The C++ unit tests for aarch64: cross-compiled here (warnings are errors),
# linked against Python 3.14 of the sid arm64 tree, and run by CTest under
# qemu-user with that tree as their root for libraries. The portable ChaCha
# and SHA-1 serve there, and their vectors run.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$ROOT/tests/arm64/lib.sh"
ver=3.14
ensure_cross_tools
bash "$TREE_SH" ensure "$(tree_of "$ver")"
tree="$(bash "$TREE_SH" path "$(tree_of "$ver")")"
export KESTRAND_AARCH64_TREE="$tree"
ensure_venv 3.12
venv="$ROOT/build/venv-3.12"
"$venv/bin/python" -m pip install -q --disable-pip-version-check cmake ninja
cmake_args=(-G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" -DCMAKE_BUILD_TYPE=Release
    --toolchain "$ARM64_TOOLCHAIN")

stage "arm64 C++ tests: GoogleTest for aarch64"
if [ ! -f "$ARM64_OUT/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    "$venv/bin/cmake" -S /usr/src/googletest -B "$ARM64_OUT/gtest-build" "${cmake_args[@]}" \
        -DCMAKE_INSTALL_PREFIX="$ARM64_OUT/gtest" -DBUILD_GMOCK=OFF -Wno-deprecated
    "$venv/bin/cmake" --build "$ARM64_OUT/gtest-build" --parallel 2
    "$venv/bin/cmake" --install "$ARM64_OUT/gtest-build"
fi

stage "arm64 C++ tests: configure $ARM64_OUT/cpp"
include="$(stage_python_headers "$ver")"
soabi="$(ext_suffix "$ver")"
soabi="${soabi#.}"
"$venv/bin/cmake" -S . -B "$ARM64_OUT/cpp" "${cmake_args[@]}" \
    -DCMAKE_PREFIX_PATH="$ARM64_OUT/gtest" \
    -DKESTRAND_BUILD_TESTS=ON -DKESTRAND_WERROR=ON \
    -DPython_INCLUDE_DIR="$include" -DPython_SOABI="${soabi%.so}" \
    -DPython_LIBRARY="$tree/usr/lib/aarch64-linux-gnu/libpython$ver.so"

stage "arm64 C++ tests: build"
"$venv/bin/cmake" --build "$ARM64_OUT/cpp" --parallel 2
# No x86 variant is built into an aarch64 library.
if "$venv/bin/python" - "$ARM64_OUT/cpp" <<'PY'
import pathlib, sys
names = [p.name for p in pathlib.Path(sys.argv[1]).rglob("*.o")]
x86 = [n for n in names if any(k in n for k in ("chacha_sse", "chacha_avx", "sha1_shani.cpp", "x86_64"))]
print("objects:", len(names), "x86-only objects:", x86)
sys.exit(1 if x86 or not names else 0)
PY
then :; else echo "error: x86 code in the aarch64 build" >&2; exit 1; fi

stage "arm64 C++ tests: ctest under qemu-aarch64"
"$venv/bin/ctest" --test-dir "$ARM64_OUT/cpp" --output-on-failure
