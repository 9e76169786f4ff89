#!/usr/bin/env bash
# The Python test suite against a fresh install of kestrand in build/venv-VER.
# Usage: bash tests/stages/python.sh VER
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
ver="${1:?usage: python.sh VER}"
stage "Python $ver: venv in build/venv-$ver"
ensure_kestrand "$ver"
stage "Python $ver: pytest tests/python"
"$ROOT/build/venv-$ver/bin/python" -m pytest -q tests/python
