#!/usr/bin/env bash
# Builds everything and runs every test: first the host code under
# AddressSanitizer and UndefinedBehaviorSanitizer with a bounded fuzzing run
# (build-san/), then the ordinary build with the driver image, the emulator,
# the benchmarks' budget check and the static checks (build/).
set -euo pipefail
cd "$(dirname "$0")"
scripts/build.sh
scripts/build-sanitized.sh
ctest --test-dir build-san -j2 --output-on-failure
# The whole stack also runs under Wine's kernel: Wine installed, and where
# this host runs no i386 code, qemu-i386 set up for it (or one line on why
# the Wine tests will be skipped).
scripts/deps-wine.sh
ctest --test-dir build -j2 --output-on-failure
