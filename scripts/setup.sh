#!/usr/bin/env bash
# Installs whatever Debian packages are missing, then configures and builds.
# Usage: scripts/setup.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true

. scripts/packages.sh
ensure_packages g++ make cmake qt6-base-dev qt6-serialport-dev

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
