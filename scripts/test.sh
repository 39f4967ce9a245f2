#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
bash scripts/setup.sh "$build" "$@"
# The package is built and checked first, so that the test summary closes the output.
bash scripts/package.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j12
