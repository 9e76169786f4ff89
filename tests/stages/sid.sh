#!/usr/bin/env bash
# Python VER from Debian unstable (3.14, 3.15, beside glibc 2.43), in the
# sid-amd64 tree (tests/debian/tree.sh makes it once per machine): builds with
# gcc and clang, warnings as errors, the Python suite against each, and the
# integration suite against a PostgreSQL from the tree's packages. Venvs and
# build trees stay in build/sid-amd64 of the checkout.
# Usage: bash tests/stages/sid.sh VER
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
ver="${1:?usage: sid.sh VER}"
stage "Debian tree sid-amd64"
bash tests/debian/tree.sh ensure sid-amd64
KESTRAND_TREE_BIND="$ROOT" bash tests/debian/tree.sh run sid-amd64 \
    bash "$ROOT/tests/debian/in_tree_suite.sh" "$ver" build/sid-amd64
