# What the arm64 stages share (sourced after tests/stages/lib.sh): the arm64
# Debian trees, the target's Python headers and extension suffix read from
# them, and the cross build's settings. Code for aarch64 is cross-compiled on
# this machine (tests/arm64/toolchain.cmake) and run under qemu-user.

TREE_SH="$ROOT/tests/debian/tree.sh"
ARM64_OUT="$ROOT/build/arm64"
ARM64_TOOLCHAIN="$ROOT/tests/arm64/toolchain.cmake"
# Debian's arm64 interpreters: 3.13 in Debian 13, 3.14 and 3.15 in sid. None
# offers 3.12, so there is no cp312 aarch64 wheel.
ARM64_VERSIONS=(3.13 3.14 3.15)

tree_of() {  # tree_of VER: the arm64 tree holding pythonVER
    case "$1" in
        3.13) echo trixie-arm64 ;;
        3.14 | 3.15) echo sid-arm64 ;;
        *) echo "error: no arm64 tree has Python $1" >&2; return 1 ;;
    esac
}

ensure_cross_tools() {
    ensure_apt_packages g++-12-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user-static binfmt-support googletest
}

# stage_python_headers VER: the tree's headers for pythonVER under
# $ARM64_OUT/python-VER/include/pythonVER, with Debian's pyconfig.h (which
# picks the real one by architecture) replaced by aarch64's own. Prints the folder.
stage_python_headers() {
    local ver="$1" tree dest
    tree="$(bash "$TREE_SH" path "$(tree_of "$ver")")"
    dest="$ARM64_OUT/python-$ver/include"
    rm -rf "$dest"
    mkdir -p "$dest"
    cp -r "$tree/usr/include/python$ver" "$dest/"
    cp "$tree/usr/include/aarch64-linux-gnu/python$ver/pyconfig.h" "$dest/python$ver/pyconfig.h"
    echo "$dest/python$ver"
}

# ext_suffix VER: the extension suffix the tree's pythonVER itself loads
# (.cpython-314-aarch64-linux-gnu.so), asked of it under emulation.
ext_suffix() {
    bash "$TREE_SH" run "$(tree_of "$1")" "python$1" -c \
        'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))'
}
