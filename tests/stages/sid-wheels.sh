#!/usr/bin/env bash
# Wheels for Python 3.14 and 3.15 (x86_64), built in the sid-amd64 tree from
# an sdist of the checkout with g++-12, so that they keep the manylinux_2_28
# tag of the 3.12 and 3.13 wheels (a wheel built with the tree's gcc 16 needs
# a newer C++ runtime); each installed into a fresh venv there and tested
# (tests/debian/in_tree_wheels.sh). Results in build/sid-amd64/wheels.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
stage "Debian tree sid-amd64"
bash tests/debian/tree.sh ensure sid-amd64
KESTRAND_TREE_BIND="$ROOT" KESTRAND_TREE_ENV="CC=gcc-12 CXX=g++-12" bash tests/debian/tree.sh run sid-amd64 \
    bash "$ROOT/tests/debian/in_tree_wheels.sh" build/sid-amd64 3.14 3.15
