#!/usr/bin/env bash
# The arm64 Debian trees (tests/debian/tree.sh): sid for Python 3.14 and 3.15,
# Debian 13 for 3.13. Each is made once per machine and then reused; made from
# nothing, both at once, since debootstrap's emulated second stage runs one
# process at a time and waits on the network besides.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$ROOT/tests/arm64/lib.sh"
ensure_cross_tools
mkdir -p "$ARM64_OUT"
pids=() names=(sid-arm64 trixie-arm64)
for name in "${names[@]}"; do
    (
        t0=$SECONDS
        bash "$TREE_SH" ensure "$name"
        echo "tree.sh: $name ready after $((SECONDS - t0)) s"
    ) >"$ARM64_OUT/tree-$name.log" 2>&1 &
    pids+=($!)
done
failed=0
for i in "${!names[@]}"; do
    if ! wait "${pids[$i]}"; then
        failed=1
        echo "error: tree ${names[$i]} failed" >&2
    fi
    stage "arm64 tree ${names[$i]}"
    tail -n 20 "$ARM64_OUT/tree-${names[$i]}.log"
done
exit "$failed"
