#!/usr/bin/env bash
# Builds everything and runs the benchmarks: the image's figures under the
# emulator (checked against the budget and bench/baseline.txt), then the host
# benchmarks.  Arguments go to the host benchmarks (Google Benchmark flags).
set -euo pipefail
cd "$(dirname "$0")"
scripts/build.sh >/dev/null
status=0
build/bin/zerval-bench || status=$?
echo
build/bin/zerval-host-bench --benchmark_color=false "$@"
exit "$status"
