# The steps every wheel stage shares: the host's (tests/stages/wheels.sh), the
# sid tree's (tests/debian/in_tree_wheels.sh) and arm64's
# (tests/stages/arm64-wheels.sh). Sourced; the caller sets $scratch, an empty
# folder outside any git repository, and ROOT, the checkout.

step_times=()
step() {  # step LABEL COMMAND...: runs and times one step
    local label="$1" t0
    shift
    printf '\n==== %s: %s ====\n' "${STEP_PREFIX:-Wheels}" "$label"
    t0="$(date +%s%N)"
    "$@"
    step_times+=("$(printf '%7.1f s  %s' "$(( ($(date +%s%N) - t0) / 1000000 ))e-3" "$label")")
}

print_step_times() {
    printf '%s\n' "${step_times[@]}"
}

# unpack_sdist SDIST: into $scratch/src, which must lie outside git, so the
# build sees only what the sdist holds.
unpack_sdist() {
    mkdir "$scratch/src"
    tar -xzf "$1" -C "$scratch/src"
    if git -C "$scratch/src" rev-parse 2>/dev/null; then
        echo "error: $scratch/src lies inside a git repository" >&2
        return 1
    fi
}

# test_installed PYTHON WHEEL VENV: the wheel in a fresh venv, then the Python
# suite and mypy on the installed stubs, from outside the checkout.
test_installed() {
    local python="$1" wheel="$2" venv="$3"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel" -r "$ROOT/tests/requirements.txt"
    # -P and a working directory outside the checkout keep the sources off sys.path.
    (cd "$scratch" && env -u PYTHONPATH "$venv/bin/python" -P -c \
        'import kestrand, sys; assert kestrand.__file__.startswith(sys.prefix), kestrand.__file__; print(kestrand.__file__)' &&
        env -u PYTHONPATH "$venv/bin/python" -P -m pytest -q -p no:cacheprovider "$ROOT/tests/python" &&
        env -u PYTHONPATH "$venv/bin/python" -P -m mypy --strict --no-incremental -c \
            'import kestrand; from typing import assert_type; assert_type(kestrand.uuid7(), kestrand.UUID)')
}

# install_without_compilers PYTHON WHEEL VENV [COMPILER...]: pip installs the
# wheel and the module imports with no compiler on PATH (the usual names and
# any named).
install_without_compilers() {
    local python="$1" wheel="$2" venv="$3"
    shift 3
    "$python" -m venv "$venv"
    (
        export PATH="$venv/bin"
        unset CC CXX
        for c in cc gcc c++ g++ clang clang++ "$@"; do
            if command -v "$c" >/dev/null; then
                echo "error: $c is still on PATH" >&2
                exit 1
            fi
        done
        cd "$scratch"
        python -m pip install -q --disable-pip-version-check --no-index --no-deps "$wheel"
        python -P -c 'import kestrand; print("imported", kestrand.__file__, kestrand.uuid4())'
    )
}

# check_and_repair TOOLS PLAT SDIST: the wheels in $out/from-sdist need no
# symbol newer than PLAT allows, repair to PLAT into $out/repaired, and pass
# twine's checks with the sdist; TOOLS is the venv with check.py's and
# auditwheel's needs.
check_and_repair() {
    local tools="$1" plat="$2" sdist="$3"
    step "symbols allowed by $plat" "$tools/bin/python" "$ROOT/tests/wheel/check.py" symbols --plat "$plat" "$out"/from-sdist/*.whl
    step "auditwheel repair --plat $plat" env PATH="$tools/bin:$PATH" \
        "$tools/bin/auditwheel" repair --plat "$plat" -w "$out/repaired" "$out"/from-sdist/*.whl
    step "auditwheel show" bash -c 'for w in "$@"; do "$0" show "$w"; done' "$tools/bin/auditwheel" "$out"/repaired/*.whl
    step "twine check" "$tools/bin/twine" check --strict "$sdist" "$out"/repaired/*.whl
}
