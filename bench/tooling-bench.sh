#!/usr/bin/env bash
# What the test tooling costs on this machine: CPU time per warm and fresh
# emulated attach (zerval-tooling-bench, from build/), then the differential
# fuzzer's executions per second in the run CI makes (fuzz.diff_bounded's
# build, build-san/diff-fuzz-ubsan/, with its flags, for fewer seconds and
# from an empty work corpus).
# Builds nothing: run scripts/build.sh and scripts/build-sanitized.sh first.
#   bench/tooling-bench.sh [SECONDS]   # fuzzing time, 20 by default
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build/bin/zerval-tooling-bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ZERVAL_IMAGE=build/image-gnu/zerval.sys build-san/diff-fuzz-ubsan/bin/zerval-diff-fuzz -max_total_time="$seconds" -seed=1 \
  -max_len=2048 -timeout=30 -rss_limit_mb=3072 -print_final_stats=1 "$work" fuzz/diff-corpus 2>"$work/log" || {
  tail -20 "$work/log" >&2
  exit 1
}
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
echo "differential fuzzer (build-san/diff-fuzz-ubsan, ${seconds} s): ${runs} inputs, ${rate} exec/s"
