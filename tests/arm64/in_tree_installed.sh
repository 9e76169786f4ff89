#!/usr/bin/env bash
# Inside an arm64 Debian tree (tests/debian/tree.sh run NAME ...), with the
# checkout bound at its own path: WHEEL installed into a fresh venv of
# pythonVER beside the test requirements from WHEELHOUSE (fetched for aarch64
# on the host, so the emulated pip resolves nothing over the network), then
# from outside the checkout the Python suite (its report in
# DIR/pytest-VER.xml, for tests/arm64/skips.py) and mypy reading the
# installed stubs.
#
#   bash tests/arm64/in_tree_installed.sh VER WHEEL DIR WHEELHOUSE
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
ROOT="$PWD"
ver="${1:?usage: in_tree_installed.sh VER WHEEL DIR WHEELHOUSE}" wheel="${2:?}" dir="${3:?}" wheelhouse="${4:?}"
venv="$dir/venv-$ver"
rm -rf "$venv"
mkdir -p "$dir"
printf '\n==== Python %s in the tree: %s; %s ====\n' "$ver" "$(python"$ver" -VV | head -n 1)" "$(ldd --version | head -n 1)"
"python$ver" -m venv "$venv"
# Under emulation compiling every installed module ahead costs minutes; the
# tests compile what they import.
"$venv/bin/python" -m pip install -q --disable-pip-version-check --no-compile \
    --no-index --find-links "$wheelhouse" "$wheel" -r tests/requirements.txt
# Each example costs ten times as much under emulation: the property tests
# run fewer of them here (tests/python/conftest.py).
export HYPOTHESIS_PROFILE=emulated
scratch="$(mktemp -d)"
cd "$scratch"
# -P and a working directory outside the checkout keep the sources off sys.path.
env -u PYTHONPATH "$venv/bin/python" -P -c \
    'import kestrand, sys; assert kestrand.__file__.startswith(sys.prefix), kestrand.__file__; print(kestrand.__file__)'
# Left to the native runs: every allocation failure of every entry point
# takes hours under qemu-user, and emulation's memory map makes resident
# sizes grow where a native process's stay flat.
env -u PYTHONPATH "$venv/bin/python" -P -m pytest -q -p no:cacheprovider -rs \
    --ignore="$ROOT/tests/python/test_allocation_failures.py" \
    -k "not test_bulk_failure_part_way_keeps_nothing" \
    --junitxml="$dir/pytest-$ver.xml" "$ROOT/tests/python"
env -u PYTHONPATH "$venv/bin/python" -P -m mypy --strict --no-incremental -c \
    'import kestrand; from typing import assert_type; assert_type(kestrand.uuid7(), kestrand.UUID)'
