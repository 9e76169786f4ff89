#!/usr/bin/env bash
# The benchmark on a Python the host does not have: in the sid-amd64 Debian
# tree (Python 3.14 or 3.15, glibc 2.43), side by side with the standard
# library and the peers, exactly as bench/bench.py runs on the host.
#
#   bash bench/in_tree.sh VER [bench.py options...]     e.g. bash bench/in_tree.sh 3.14 --quick
#
# The venv and build tree stay in build/sid-amd64/bench-VER of the checkout.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"
ver="${1:?usage: in_tree.sh VER [bench.py options...]}"
shift
bash tests/debian/tree.sh ensure sid-amd64 >&2
KESTRAND_TREE_BIND="$ROOT" bash tests/debian/tree.sh run sid-amd64 bash -c '
    set -euo pipefail
    cd "$1"; ver="$2"; shift 2
    venv="build/sid-amd64/bench-$ver"
    pip=(-m pip install -q --disable-pip-version-check)
    [ -x "$venv/bin/python" ] || "python$ver" -m venv "$venv"
    "$venv/bin/python" "${pip[@]}" -r bench/requirements.txt >&2
    case " $* " in  # the recipes need their tools
        *" --integrations "*) "$venv/bin/python" "${pip[@]}" -r tests/integration/requirements.txt >&2 ;;
    esac
    "$venv/bin/python" "${pip[@]}" --force-reinstall --no-deps . -Cbuild-dir="$venv/build/{wheel_tag}" >&2
    exec "$venv/bin/python" bench/bench.py "$@"
' in-tree "$ROOT" "$ver" "$@"
