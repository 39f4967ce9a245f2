#!/usr/bin/env bash
# Speed and CPU figures against the simulated indicator; prints markdown tables.
# Usage: bench/run.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
quick=${1:-}
bash scripts/setup.sh build >/dev/null
b=build
work=$(mktemp -d)
sims=()
cleanup() { for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

export QT_QPA_PLATFORM=offscreen
"$b/bench/torvex-bench" $quick

size=262144; parallel_size=131072; erase_ms=10000
if [ "$quick" = --quick ]; then size=32768; parallel_size=32768; erase_ms=2000; fi

# start_sim DIR [sim options...]: a simulator linked as DIR/com3, with the ini beside it.
start_sim() {
  local dir=$1; shift
  mkdir -p "$dir"
  printf '[SERIAL]\r\nCommNum=3\r\n' > "$dir/BootLoaderTorvexII.ini"
  "$b/bin/torvex-sim" --link "$dir/com3" "$@" >/dev/null 2>&1 &
  sims+=($!)
  for _ in $(seq 100); do [ -L "$dir/com3" ] && return 0; sleep 0.05; done
  echo "simulator did not start" >&2; return 1
}

# run_flash DIR IMAGE: prints "wall cpu exit" of one torvex-flash run.
run_flash() {
  local t0 t1 c
  t0=$(date +%s.%N)
  c=$( { /usr/bin/env TIMEFORMAT='%U %S' bash -c "time \"$b/bin/torvex-flash\" --config \"$1\" \"$2\" >/dev/null 2>&1; echo \$? >&2" ; } 2>&1 | tr '\n' ' ')
  t1=$(date +%s.%N)
  echo "$(calc 3 "$t1 - $t0") $c"
}

"$b/bin/torvex-sim" --make-image "$work/fw.bin" --image-size "$size" >/dev/null
"$b/bin/torvex-sim" --make-image "$work/par.bin" --image-size "$parallel_size" >/dev/null
calc() { awk "BEGIN { printf \"%.${1}f\", $2 }"; }
ceiling=$(calc 4 "98 / 111 * 11520")

echo
echo "### Command line (torvex-flash and torvex-sim as processes)"
echo
echo "| run | bytes | wall (s) | payload B/s | of ceiling | CPU of torvex-flash |"
echo "|---|---:|---:|---:|---:|---:|"
start_sim "$work/one" --baud 115200 --erase-time 0
read -r wall user sys rc < <(run_flash "$work/one" "$work/fw.bin")
rate=$(calc 1 "$size / $wall")
echo "| paced 115200, whole update (exit $rc) | $size | $wall | $rate | $(calc 1 "100 * $rate / $ceiling") % | $(calc 2 "100 * ($user + $sys) / $wall") % |"
start_sim "$work/fast" --erase-time 0 --flash-size 8388608
"$b/bin/torvex-sim" --make-image "$work/big.bin" --image-size 2097152 >/dev/null
read -r wall user sys rc < <(run_flash "$work/fast" "$work/big.bin")
blocks=$(( (2097152 + 97) / 98 ))
echo "| unpaced, whole update (exit $rc) | 2097152 | $wall | $(calc 0 "2097152 / $wall") | $(calc 4 "1000 * $wall / $blocks") ms per block | $(calc 1 "100 * ($user + $sys) / $wall") % |"
start_sim "$work/erase" --erase-time "$erase_ms"
"$b/bin/torvex-sim" --make-image "$work/tiny.bin" --image-size 2000 >/dev/null
read -r wall user sys rc < <(run_flash "$work/erase" "$work/tiny.bin")
echo "| ${erase_ms} ms erase, then 2000 bytes (exit $rc) | 2000 | $wall | - | - | $(calc 3 "100 * ($user + $sys) / $wall") % |"

echo
echo "### Eight paced updates side by side (each its own torvex-flash and torvex-sim)"
echo
start_sim "$work/single" --baud 115200 --erase-time 0
read -r single _ _ rc < <(run_flash "$work/single" "$work/par.bin")
for i in $(seq 8); do start_sim "$work/p$i" --baud 115200 --erase-time 0; done
runs=()
for i in $(seq 8); do run_flash "$work/p$i" "$work/par.bin" > "$work/p$i.out" & runs+=($!); done
wait "${runs[@]}"
slowest=0; codes=""
for i in $(seq 8); do
  read -r w _ _ c < "$work/p$i.out"
  codes="$codes$c"
  slowest=$(awk "BEGIN { print ($w > $slowest) ? $w : $slowest }")
done
echo "| bytes each | single (s) | slowest of 8 (s) | slower by | exit codes |"
echo "|---:|---:|---:|---:|---|"
echo "| $parallel_size | $single | $slowest | $(calc 1 "100 * ($slowest - $single) / $single") % | $codes |"

# The station: eight updates from one window, each its own torvex-flash and torvex-sim.
"$b/bench/torvex-station-bench" $quick
