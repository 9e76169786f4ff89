#!/usr/bin/env bash
# Long runs: a fixed million mixed calls, and threads against forks.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
ensure_kestrand 3.12
stage "Soak: pytest tests/soak (Python 3.12)"
"$ROOT/build/venv-3.12/bin/python" -m pytest -q tests/soak
