#!/usr/bin/env bash
# Cuts a release from this checkout: builds everything (scripts/build.sh,
# which installs the Debian packages it needs), then packs the kit into
# build/release/: zerval-<version>-sdk.zip, zerval-<version>-sdk.tar.gz and
# SHA256SUMS.  Run ./test.sh before; see docs/releases.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
scripts/package.sh build build/release
