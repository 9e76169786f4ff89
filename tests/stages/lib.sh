# Shared by every stage of tests/run_all.sh; each stage sources it. A stage is
# a file tests/stages/NAME.sh that runs alone (bash tests/stages/NAME.sh) or as
# part of the whole run.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$ROOT"

# The Debian packages the host-side stages need.
APT_PACKAGES=(g++ binutils binutils-aarch64-linux-gnu libgtest-dev googletest faketime libfaketime postgresql strace clang libclang-rt-14-dev)

stage() {
    printf '\n==== %s ====\n' "$*"
}

ensure_apt_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "all required packages present: $*"
        return
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    echo "installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}

# The interpreter for a version: pythonX.Y on PATH (pyenv's shims resolve it
# through .python-version), else pyenv's own installation of it.
find_python() {
    local ver="$1" exe
    if exe="$(command -v "python$ver" 2>/dev/null)" && "$exe" -c 'pass' 2>/dev/null; then
        echo "$exe"
        return
    fi
    if command -v pyenv >/dev/null 2>&1; then
        local prefix
        prefix="$(pyenv prefix "$(pyenv versions --bare | grep -E "^${ver//./\\.}(\\.[0-9]+)?$" | tail -n 1)" 2>/dev/null || true)"
        if [ -n "$prefix" ] && [ -x "$prefix/bin/python$ver" ]; then
            echo "$prefix/bin/python$ver"
            return
        fi
    fi
    echo "error: python$ver not found (install it, e.g. with pyenv)" >&2
    return 1
}

# build/venv-VER with the test requirements.
ensure_venv() {
    local ver="$1" venv="$ROOT/build/venv-$1"
    if [ ! -x "$venv/bin/python" ]; then
        "$(find_python "$ver")" -m venv "$venv"
    fi
    "$venv/bin/python" -m pip install -q --disable-pip-version-check -r tests/requirements.txt
}

# kestrand built from the checkout (warnings are errors) into build/venv-VER.
# Within one run of tests/run_all.sh it is built once per venv: a stage that
# needs it again finds the stamp of this run and goes on.
ensure_kestrand() {
    local ver="$1" venv="$ROOT/build/venv-$1"
    local stamp="$venv/.kestrand-installed-by"
    ensure_venv "$ver"
    if [ -n "${KESTRAND_RUN_ID:-}" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$KESTRAND_RUN_ID" ]; then
        return
    fi
    stage "Python $ver: build and install kestrand (warnings are errors)"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps . \
        -Ccmake.define.KESTRAND_WERROR=ON
    echo "${KESTRAND_RUN_ID:-}" >"$stamp"
}
