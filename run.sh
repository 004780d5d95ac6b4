#!/usr/bin/env bash
# Builds everything and runs the main job: the mode list that the module
# publishes for a simulated adapter.  Arguments go to the tool.
set -euo pipefail
cd "$(dirname "$0")"
scripts/build.sh >/dev/null
exec build/bin/zerval-sim "$@"
