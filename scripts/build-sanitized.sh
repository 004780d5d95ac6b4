#!/usr/bin/env bash
# Configures and builds the host code with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, with the libFuzzer targets, into build-san/.
# The driver image is not part of this build: the differential fuzz target
# runs the ordinary build's (build/image-gnu/zerval.sys).  That target is also
# built without AddressSanitizer, in build-san/diff-fuzz-ubsan/, for CTest's
# bounded run (fuzz/CMakeLists.txt).  Extra arguments go to CMake's configure
# step.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZERVAL_SANITIZE=ON -DZERVAL_FUZZ=ON -DZERVAL_BUILD_IMAGE=OFF \
  -DZERVAL_FUZZ_IMAGE="$PWD/build/image-gnu/zerval.sys" "$@" >/dev/null
cmake --build build-san -j2
