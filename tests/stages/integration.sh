#!/usr/bin/env bash
# The recipes of docs/integrations.md against the real libraries and a
# throwaway PostgreSQL cluster (tests/integration/conftest.py starts and
# removes it; KESTRAND_SKIP_POSTGRES=1 skips the server tests where none is
# installed on purpose).
# Usage: bash tests/stages/integration.sh VER
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
ver="${1:?usage: integration.sh VER}"
ensure_kestrand "$ver"
venv="$ROOT/build/venv-$ver"
stage "Python $ver: pytest tests/integration"
"$venv/bin/python" -m pip install -q --disable-pip-version-check -r tests/integration/requirements.txt
"$venv/bin/python" -m pytest -q tests/integration
