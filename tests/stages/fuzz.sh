#!/usr/bin/env bash
# Hostile input: every fuzz target for a bounded time from its seed corpus
# (tests/fuzz/run.sh builds its own clang build and venv).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
stage "Fuzzing: every target for 40 s (tests/fuzz/run.sh)"
bash tests/fuzz/run.sh 40
