#!/usr/bin/env bash
# Inside a Debian tree (tests/debian/tree.sh run NAME ...), with the checkout
# bound at its own path: kestrand for Python VER built with warnings as
# errors by each compiler of the tree, the Python suite run against each
# build, and the integration suite against the last one, with a PostgreSQL
# from the tree's packages.
#
#   bash tests/debian/in_tree_suite.sh VER DIR [CC:CXX ...]
#
# DIR (relative to the checkout, e.g. build/sid-amd64) holds the venv and the
# build trees, so a clean clone starts afresh; the compilers default to
# gcc:g++ and clang-19:clang++-19.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
ROOT="$PWD"
ver="${1:?usage: in_tree_suite.sh VER DIR [CC:CXX ...]}"
dir="$ROOT/${2:?usage: in_tree_suite.sh VER DIR [CC:CXX ...]}"
shift 2
compilers=("$@")
[ "${#compilers[@]}" -gt 0 ] || compilers=(clang-19:clang++-19 gcc:g++)
venv="$dir/venv-$ver"
pip=(-m pip install -q --disable-pip-version-check)

stage() { printf '\n==== %s ====\n' "$*"; }

stage "Python $ver in the tree: $(python"$ver" -VV | head -n 1); $(ldd --version | head -n 1)"
[ -x "$venv/bin/python" ] || "python$ver" -m venv "$venv"
"$venv/bin/python" "${pip[@]}" -r tests/requirements.txt

for pair in "${compilers[@]}"; do
    cc="${pair%%:*}" cxx="${pair#*:}"
    stage "Python $ver: build with $("$cxx" --version | head -n 1) (warnings are errors)"
    CC="$cc" CXX="$cxx" "$venv/bin/python" "${pip[@]}" --force-reinstall --no-deps . \
        -Ccmake.define.KESTRAND_WERROR=ON -Cbuild-dir="$dir/build-$ver-$cc/{wheel_tag}"
    stage "Python $ver, $cxx build: pytest tests/python"
    "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
done

stage "Python $ver: pytest tests/integration"
"$venv/bin/python" "${pip[@]}" -r tests/integration/requirements.txt
"$venv/bin/python" -m pytest -q -p no:cacheprovider tests/integration
