#!/usr/bin/env bash
# Coverage-guided fuzzing of kestrand's Python surface with atheris.
#
# Builds the module with clang for fuzzing (KESTRAND_FUZZ: libFuzzer coverage,
# ASan, UBSan) into build/fuzz and its own venv, build/venv-fuzz (Python 3.12),
# then runs every target in tests/fuzz for SECONDS each, from its committed
# seed corpus. New corpus entries go to build/fuzz/corpus/<target>, crashing
# inputs to build/fuzz/artifacts/, each target's log to build/fuzz/logs/.
#
# Usage: bash tests/fuzz/run.sh [SECONDS] [TARGET...]
#   bash tests/fuzz/run.sh            # CI: 40 s per target
#   bash tests/fuzz/run.sh 1200       # the long campaign: 20 min per target
#   bash tests/fuzz/run.sh 60 fuzz_pickle
# Needs clang and clang's runtime libraries (Debian: clang, libclang-rt-14-dev).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
ROOT="$PWD"
SECONDS_PER_TARGET="${1:-40}"
shift || true
TARGETS=("$@")
if [ "${#TARGETS[@]}" -eq 0 ]; then
    TARGETS=(fuzz_constructor fuzz_pickle fuzz_generators)
fi
VENV="$ROOT/build/venv-fuzz"
OUT="$ROOT/build/fuzz"

stage() {
    printf '\n==== %s ====\n' "$*"
}

for tool in clang clang++; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "error: $tool not found; install clang and libclang-rt-14-dev" >&2
        exit 1
    fi
done
PYTHON="$(command -v python3.12 || true)"
if [ -z "$PYTHON" ] || ! "$PYTHON" -c 'pass' 2>/dev/null; then
    echo "error: python3.12 not found" >&2
    exit 1
fi

stage "Fuzzing: venv in build/venv-fuzz"
if [ ! -x "$VENV/bin/python" ]; then
    "$PYTHON" -m venv "$VENV"
fi
"$VENV/bin/python" -m pip install -q --disable-pip-version-check atheris

# The interpreter is not instrumented, so the sanitizer runtime and libFuzzer
# are preloaded, as one library: the ASan runtime (UBSan included) carries
# weak default definitions of the coverage hooks, and only in one link do
# libFuzzer's strong definitions replace them. The ASan archive's preinit
# object is dropped, since a shared library may not have a .preinit_array.
stage "Fuzzing: sanitizer runtime with libFuzzer, build/fuzz/asan_with_fuzzer.so"
RUNTIME_DIR="$(clang --print-runtime-dir)"
ARCH="$(uname -m)"
mkdir -p "$OUT"
RUNTIME="$OUT/asan_with_fuzzer.so"
if [ ! -f "$RUNTIME" ] || [ "$RUNTIME_DIR/libclang_rt.asan-$ARCH.a" -nt "$RUNTIME" ]; then
    cp "$RUNTIME_DIR/libclang_rt.asan-$ARCH.a" "$OUT/asan_no_preinit.a"
    ar d "$OUT/asan_no_preinit.a" asan_preinit.cpp.o
    clang++ -shared -o "$RUNTIME" -Wl,--whole-archive \
        "$OUT/asan_no_preinit.a" \
        "$RUNTIME_DIR/libclang_rt.asan_cxx-$ARCH.a" \
        "$RUNTIME_DIR/libclang_rt.fuzzer_no_main-$ARCH.a" \
        -Wl,--no-whole-archive -ldl -lpthread -lrt -lm
    rm "$OUT/asan_no_preinit.a"
fi

stage "Fuzzing: build and install kestrand with libFuzzer coverage, ASan and UBSan (clang)"
CC=clang CXX=clang++ "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
    --force-reinstall --no-deps . \
    -Ccmake.define.KESTRAND_FUZZ=ON -Ccmake.build-type=RelWithDebInfo \
    -Cbuild-dir="build/fuzz/{wheel_tag}"

export LD_PRELOAD="$RUNTIME"
export ASAN_OPTIONS="detect_leaks=0"  # CPython leaves memory allocated at exit
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
mkdir -p "$OUT/artifacts" "$OUT/logs"
summary=()
for target in "${TARGETS[@]}"; do
    stage "Fuzzing: $target for ${SECONDS_PER_TARGET}s"
    corpus="$OUT/corpus/$target"
    mkdir -p "$corpus"
    log="$OUT/logs/$target.log"
    status=0
    started=$SECONDS
    # The bytes_le panic, which the constructor target provokes on purpose,
    # writes a diagnostic each time; the log keeps them, the console does not.
    "$VENV/bin/python" "tests/fuzz/$target.py" "$corpus" "tests/fuzz/corpus/$target" \
        -max_total_time="$SECONDS_PER_TARGET" -timeout=20 -rss_limit_mb=3072 \
        -print_final_stats=1 -artifact_prefix="$OUT/artifacts/$target-" >"$log" 2>&1 || status=$?
    grep -v '^kestrand: internal failure' "$log" | tail -n 25
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    edges="$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)"
    summary+=("$target: ${runs:-?} executions, ${edges:-?} edges, $((SECONDS - started)) s, exit $status")
    if [ "$status" -ne 0 ]; then
        printf '%s\n' "${summary[@]}"
        echo "error: $target failed; see $log and build/fuzz/artifacts/" >&2
        exit 1
    fi
done
stage "Fuzzing passed ($SECONDS s in all)"
printf '%s\n' "${summary[@]}"
