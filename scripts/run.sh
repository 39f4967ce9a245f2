#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater.
# By default a simulated indicator is put on a pseudo-terminal linked as the
# configured port, with a sample image to select; --real skips the simulator
# and uses whatever device the port number names.
set -euo pipefail
cd "$(dirname "$0")/.."
real=0
[ "${1:-}" = "--real" ] && real=1
build=build

. scripts/packages.sh
ensure_packages g++ make cmake qt6-base-dev qt6-serialport-dev
# Only what this script runs: the tests are scripts/test.sh's business.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target BootLoaderTorvexII torvex-sim

# Every program of the build sits in bin/, so the window, torvex-flash and
# torvex-sim share this configuration and its comN links.
bindir="$build/bin"
ini="$bindir/BootLoaderTorvexII.ini"
if [ ! -f "$ini" ]; then
  printf '[SERIAL]\r\nCommNum=3\r\n[MODE]\r\nModeProg=0\r\n' > "$ini"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cmake --build "$build" -j"$(nproc)" --target torvex-flash >/dev/null
  echo "No display: the window needs a graphical session (or xvfb-run bash scripts/run.sh)."
  echo "Without one, $bindir/torvex-flash updates an indicator from the terminal (--help)."
  exit 0
fi

port=$(sed -n 's/^[[:space:]]*[Cc][Oo][Mm][Mm][Nn][Uu][Mm][[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' "$ini" | head -n1)
port=${port:-3}
link="$bindir/com$port"
if [ "$real" -eq 0 ] && [ -L "$link" ] && [[ "$(readlink "$link")" != /dev/pts/* ]]; then
  # A mapping the user made to a real adapter is never replaced by the simulator.
  echo "$link points at $(readlink "$link"): using that device (remove the link to try the simulator)."
  real=1
fi
if [ "$real" -eq 0 ]; then
  mkdir -p "$build/sample"
  "$bindir/torvex-sim" --make-image "$build/sample/sample.bin"
  "$bindir/torvex-sim" --link "$link" --flash-out "$build/sample/flash.bin" --log \
    2>"$build/sample/sim.log" >/dev/null &
  sim=$!
  trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -L "$link" ] && break; sleep 0.1; done
  echo "Simulated indicator on port $port; sample image: $build/sample/sample.bin"
  echo "Its flash is saved to $build/sample/flash.bin, its log to $build/sample/sim.log."
fi
"$bindir/BootLoaderTorvexII"
