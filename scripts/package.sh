#!/usr/bin/env bash
# Packs an existing build's kit into OUT: zerval-<version>-sdk.zip and
# zerval-<version>-sdk.tar.gz (CPack, cmake/Release.cmake) and SHA256SUMS
# beside them, then lists what it wrote.  scripts/release.sh builds first.
# Usage: scripts/package.sh [BUILD_DIR [OUT_DIR]]   (default: build build/release)
set -euo pipefail
build=$(realpath "${1:-build}")
out=${2:-$build/release}
if [[ ! -f $build/CPackConfig.cmake ]]; then
  echo "package.sh: $build/CPackConfig.cmake: not a configured build with the images (run scripts/build.sh)" >&2
  exit 1
fi
mkdir -p "$out"
out=$(realpath "$out")
rm -rf "$out"/_CPack_Packages "$out"/zerval-*-sdk.zip "$out"/zerval-*-sdk.tar.gz "$out"/SHA256SUMS
(cd "$build" && cpack --config CPackConfig.cmake -B "$out" >"$out/cpack.log") ||
  { cat "$out/cpack.log" >&2; exit 1; }
rm -rf "$out"/_CPack_Packages "$out/cpack.log"
cd "$out"
sha256sum zerval-*-sdk.zip zerval-*-sdk.tar.gz >SHA256SUMS
ls -l zerval-*-sdk.zip zerval-*-sdk.tar.gz SHA256SUMS
