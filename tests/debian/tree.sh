#!/usr/bin/env bash
# Debian trees for the Pythons, C libraries and machines the host does not
# have: made with debootstrap from Debian's packages, kept outside the
# repository and reused between runs on the same machine.
#
#   bash tests/debian/tree.sh ensure NAME          make the tree if it is missing,
#                                                  then install its package list
#   bash tests/debian/tree.sh run NAME CMD...      run CMD as root inside the tree
#       KESTRAND_TREE_BIND="DIR DIR..." binds each host DIR at the same path
#       inside the tree for CMD (the checkout, say, so CMD can build it)
#   bash tests/debian/tree.sh path NAME            print the tree's folder
#
# NAME is SUITE-ARCH (sid-amd64, sid-arm64, trixie-arm64); the packages each
# tree holds are listed in tests/debian/packages/NAME.txt. Trees live in
# $KESTRAND_TREES (default /var/cache/kestrand/trees).
#
# Entering a tree happens in a private mount namespace (unshare --mount): /proc
# and /dev are mounted there for the command alone and vanish with it, also
# when it fails or is killed, so no mount is ever left behind on the host and
# several commands may use one tree at once.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
TREES="${KESTRAND_TREES:-/var/cache/kestrand/trees}"
MIRROR="${KESTRAND_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
# The mirror's sid index is served past its Valid-Until date.
APT_OPTS=(-o DPkg::Lock::Timeout=900 -o Acquire::Check-Valid-Until=false -o APT::Install-Recommends=false -o Dpkg::Use-Pty=0 -q)

die() { echo "tree.sh: $*" >&2; exit 1; }

tree_dir() { echo "$TREES/$1"; }

split_name() {  # NAME -> SUITE ARCH
    local name="$1"
    [[ "$name" =~ ^([a-z]+)-(amd64|arm64)$ ]] || die "bad tree name '$name' (SUITE-ARCH)"
    echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
}

packages_of() {
    local list="$HERE/packages/$1.txt"
    [ -f "$list" ] || die "no package list $list"
    grep -v '^\s*#' "$list" | tr -s ' \n' '\n' | grep -v '^$'
}

ensure_host_tools() {
    local need=(debootstrap) missing=() pkg
    if [ "$1" != "$(dpkg --print-architecture)" ]; then
        need+=(qemu-user-static binfmt-support)
    fi
    for pkg in "${need[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
    if [ "$1" = arm64 ] && [ "$(uname -m)" != aarch64 ]; then
        if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
            mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
        fi
        [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || update-binfmts --enable qemu-aarch64
    fi
}

run_in() {  # run_in NAME CMD...: CMD inside the tree, /proc and /dev mounted for it alone
    local dir
    dir="$(tree_dir "$1")"
    shift
    [ -f "$dir/.kestrand-complete" ] || die "tree $dir is missing or unfinished (run: tree.sh ensure)"
    unshare --mount --propagation private -- bash -c '
        set -e
        dir="$1"; shift
        mount -t proc proc "$dir/proc"
        mount --rbind /dev "$dir/dev"
        for b in ${KESTRAND_TREE_BIND:-}; do
            mkdir -p "$dir$b"
            mount --bind "$b" "$dir$b"
        done
        exec chroot "$dir" /usr/bin/env -i \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive \
            ${KESTRAND_TREE_ENV:-} "$@"
    ' tree-run "$dir" "$@"
}

ensure() {
    local name="$1" suite arch dir tmp t0
    read -r suite arch <<<"$(split_name "$name")"
    dir="$(tree_dir "$name")"
    ensure_host_tools "$arch"
    mapfile -t pkgs < <(packages_of "$name")
    if [ ! -f "$dir/.kestrand-complete" ]; then
        t0=$SECONDS
        echo "tree.sh: making $dir ($suite, $arch) with debootstrap"
        mkdir -p "$TREES"
        tmp="$dir.partial"
        rm -rf "$tmp"
        # The first package list goes in with debootstrap itself, so a new tree
        # needs one pass of the (emulated, for arm64) package configuration.
        # The first stage only fetches and unpacks, natively; before the
        # second, dpkg is told not to fsync each file it writes: a tree cut
        # short is thrown away whole, and under emulation the syncs cost minutes.
        debootstrap --foreign --variant=minbase --arch="$arch" \
            --include="$(IFS=,; echo "${pkgs[*]}")" \
            "$suite" "$tmp" "$MIRROR" >"$TREES/$name.debootstrap.log" 2>&1 ||
            { tail -n 30 "$TREES/$name.debootstrap.log" >&2; die "debootstrap failed; log in $TREES/$name.debootstrap.log"; }
        echo force-unsafe-io >"$tmp/etc/dpkg/dpkg.cfg.d/kestrand-unsafe-io"
        unshare --mount --propagation private -- chroot "$tmp" /debootstrap/debootstrap --second-stage \
            >>"$TREES/$name.debootstrap.log" 2>&1 ||
            { tail -n 30 "$TREES/$name.debootstrap.log" >&2; die "debootstrap's second stage failed; log in $TREES/$name.debootstrap.log"; }
        printf 'Acquire::Check-Valid-Until "false";\nAPT::Install-Recommends "false";\n' \
            >"$tmp/etc/apt/apt.conf.d/99kestrand"
        rm -rf "$dir"
        mv "$tmp" "$dir"
        touch "$dir/.kestrand-complete"
        echo "tree.sh: made $dir in $((SECONDS - t0)) s"
    fi
    # pip in the tree reaches PyPI with the host's bundle of certificates.
    if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
        mkdir -p "$dir/etc/ssl/certs"
        cp /etc/ssl/certs/ca-certificates.crt "$dir/etc/ssl/certs/ca-certificates.crt"
    fi
    cp /etc/resolv.conf "$dir/etc/resolv.conf" 2>/dev/null || true
    # A list that grew since the tree was made: install only what is missing.
    local missing=() p
    for p in "${pkgs[@]}"; do
        dpkg-query --admindir="$dir/var/lib/dpkg" -W -f='${Status}' "$p" 2>/dev/null |
            grep -q "install ok installed" || missing+=("$p")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "tree.sh: installing into $name: ${missing[*]}"
        run_in "$name" apt-get "${APT_OPTS[@]}" update
        run_in "$name" apt-get "${APT_OPTS[@]}" install -y "${missing[@]}"
    fi
}

cmd="${1:-}"
shift || true
case "$cmd" in
    ensure) [ $# -eq 1 ] || die "usage: tree.sh ensure NAME"; ensure "$1" ;;
    run) [ $# -ge 2 ] || die "usage: tree.sh run NAME CMD..."; run_in "$@" ;;
    path) [ $# -eq 1 ] || die "usage: tree.sh path NAME"; tree_dir "$1" ;;
    *) die "usage: tree.sh ensure|run|path NAME [CMD...]" ;;
esac
