#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater.
# By default a simulated indicator is put on a pseudo-terminal linked as the
# configured port, with a sample image to select; --real skips the simulator
# and uses whatever device the port number names; --cli updates a simulated
# indicator with torvex-flash, in the terminal. Without a display only
# torvex-flash is built.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=sim
case "${1:-}" in
  "") ;;
  --real) mode=real ;;
  --cli) mode=cli ;;
  *) echo "Usage: bash scripts/run.sh [--real | --cli]" >&2; exit 1 ;;
esac
build=build
bindir="$build/bin"
display=0
[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ] || display=1

. scripts/packages.sh
ensure_packages g++ make cmake qt6-base-dev qt6-serialport-dev
# Only what this run uses: the tests are scripts/test.sh's business.
if [ "$mode" = cli ]; then
  targets=(torvex-flash torvex-sim)
elif [ "$display" -eq 0 ]; then
  targets=(torvex-flash)
elif [ "$mode" = real ]; then
  targets=(BootLoaderTorvexII torvex-flash)
else
  targets=(BootLoaderTorvexII torvex-sim)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# Every program of the build sits in bin/, so the window, torvex-flash and
# torvex-sim share this configuration and its comN links.
ini="$bindir/BootLoaderTorvexII.ini"
if [ ! -f "$ini" ]; then
  printf '[SERIAL]\r\nCommNum=3\r\n[MODE]\r\nModeProg=0\r\n' > "$ini"
fi
port=$(sed -n 's/^[[:space:]]*[Cc][Oo][Mm][Mm][Nn][Uu][Mm][[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' "$ini" | head -n1)
port=${port:-3}
link="$bindir/com$port"

describe_port() {
  echo "Port $port, from CommNum in $ini."
  if [ -L "$link" ]; then
    echo "It is the link $link -> $(readlink "$link")$([ -e "$link" ] || echo ', which does not exist (adapter unplugged?)')."
  else
    echo "There is no link $link, so it is /dev/ttyS$((port - 1)). Link the adapter with"
    echo "    $bindir/torvex-flash --set-port $port /dev/serial/by-id/...   (--list-ports shows the names)"
  fi
}

mkdir -p "$build/sample"
sim=""
trap '[ -z "$sim" ] || { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true; }' EXIT
# A simulated indicator behind the link $1; its flash is saved when write mode ends.
start_sim() {
  rm -f "$build/sample/flash.bin"
  "$bindir/torvex-sim" --make-image "$build/sample/sample.bin" >/dev/null
  "$bindir/torvex-sim" --link "$1" --flash-out "$build/sample/flash.bin" --log \
    2>"$build/sample/sim.log" >/dev/null &
  sim=$!
  for _ in $(seq 50); do [ -L "$1" ] && break; sleep 0.1; done
}

if [ "$mode" = cli ]; then
  # A link of its own: the configured port, perhaps a real adapter, stays untouched.
  start_sim "$build/sample/ttySim"
  echo "Updating a simulated indicator ($build/sample/ttySim) with $build/sample/sample.bin:"
  rc=0
  "$bindir/torvex-flash" --device "$build/sample/ttySim" "$build/sample/sample.bin" || rc=$?
  if cmp -s "$build/sample/sample.bin" "$build/sample/flash.bin"; then
    echo "The simulated indicator's flash ($build/sample/flash.bin) now equals the image."
  fi
  exit "$rc"
fi

if [ "$display" -eq 0 ]; then
  echo "No display: the window needs a graphical session (or xvfb-run bash scripts/run.sh)."
  echo "Built $bindir/torvex-flash, which updates an indicator from this terminal (--help)."
  if [ "$mode" = real ]; then
    describe_port
    echo "Update it with: $bindir/torvex-flash IMAGE"
  else
    echo "Try it on a simulated indicator: bash scripts/run.sh --cli"
  fi
  exit 0
fi

if [ "$mode" = sim ] && [ -L "$link" ] && [[ "$(readlink "$link")" != /dev/pts/* ]]; then
  # A mapping the user made to a real adapter is never replaced by the simulator.
  echo "$link points at $(readlink "$link"): using that device (remove the link to try the simulator)."
  mode=real
fi
if [ "$mode" = real ]; then
  describe_port
else
  start_sim "$link"
  echo "Simulated indicator on port $port; sample image: $build/sample/sample.bin"
  echo "Its flash is saved to $build/sample/flash.bin, its log to $build/sample/sim.log."
fi
"$bindir/BootLoaderTorvexII"
