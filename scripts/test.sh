#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless,
# then the emulated-PC rig (tests/vm/run.sh) through real serial drivers.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
bash scripts/setup.sh "$build" "$@"
# The package is built and checked first, so that the test summaries close the output.
bash scripts/package.sh
export QT_QPA_PLATFORM=offscreen
status=0
ctest --test-dir "$build" --output-on-failure -j12 || status=$?
bash tests/vm/run.sh "$build" || status=1
exit "$status"
