#!/usr/bin/env bash
# Runs the project's tests by stages, each a file under tests/stages/ that also
# runs alone. With no argument, every stage in order, as CI does.
#
#   bash tests/run_all.sh              every stage
#   bash tests/run_all.sh --list       the stages' names, in order
#   bash tests/run_all.sh STAGE...     only those, in the order given
#
# docs/testing.md says what each stage proves. Prints each stage's time at the end.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# NAME|COMMAND (relative to the repository's root)
STAGES=(
    "packages|tests/stages/packages.sh"
    "python-3.12|tests/stages/python.sh 3.12"
    "integration-3.12|tests/stages/integration.sh 3.12"
    "python-3.13|tests/stages/python.sh 3.13"
    "integration-3.13|tests/stages/integration.sh 3.13"
    "cpp|tests/stages/cpp.sh"
    "clang|tests/stages/clang.sh"
    "wheels|tests/stages/wheels.sh"
    "sid-3.14|tests/stages/sid.sh 3.14"
    "sid-3.15|tests/stages/sid.sh 3.15"
    "sid-wheels|tests/stages/sid-wheels.sh"
    "fuzz|tests/stages/fuzz.sh"
    "soak|tests/stages/soak.sh"
    "sanitizers|tests/stages/sanitizers.sh"
    "tsan|tests/stages/tsan.sh"
    "arm64-trees|tests/stages/arm64-trees.sh"
    "arm64-cpp|tests/stages/arm64-cpp.sh"
    "arm64-wheels|tests/stages/arm64-wheels.sh"
)

names() { local s; for s in "${STAGES[@]}"; do echo "${s%%|*}"; done; }

command_of() {
    local s
    for s in "${STAGES[@]}"; do
        if [ "${s%%|*}" = "$1" ]; then
            echo "${s#*|}"
            return
        fi
    done
    return 1
}

if [ "${1:-}" = "--list" ]; then
    names
    exit 0
fi

selected=("$@")
if [ "${#selected[@]}" -eq 0 ]; then
    mapfile -t selected < <(names)
fi
for name in "${selected[@]}"; do
    if ! command_of "$name" >/dev/null; then
        echo "error: no stage '$name'; the stages are:" >&2
        names >&2
        exit 2
    fi
done

# Stages that need kestrand installed in a venv build it once per run.
export KESTRAND_RUN_ID="$$-$(date +%s%N)"
times=()
report() {
    printf '\n==== Stage times ====\n'
    printf '%s\n' "${times[@]}"
}
trap report EXIT
for name in "${selected[@]}"; do
    t0=$SECONDS
    read -r -a cmd <<<"$(command_of "$name")"
    if ! bash "${cmd[@]}"; then
        times+=("$(printf '%6d s  %s (FAILED)' $((SECONDS - t0)) "$name")")
        echo "error: stage $name failed" >&2
        exit 1
    fi
    times+=("$(printf '%6d s  %s' $((SECONDS - t0)) "$name")")
done
printf '\n==== All stages passed: %s ====\n' "${selected[*]}"
