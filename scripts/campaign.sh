#!/usr/bin/env bash
# A long fault campaign: many seeded runs of a whole update against a
# simulated indicator that injects noise, refusals, lost and truncated
# replies, late replies on both sides of the time limits, copies, strays and
# repeating lines, a healthy latency, a background erase, and hang-ups.
# Runs mostly wait on time limits, so JOBS processes share the seeds.
# Usage: scripts/campaign.sh [RUNS] [FIRST_SEED] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
seed=${2:-1000}
jobs=${3:-8}
bash scripts/setup.sh "${BUILD:-build}" >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
per=$(( (runs + jobs - 1) / jobs ))
for ((j = 0; j < jobs; ++j)); do
  first=$((seed + j * per))
  n=$(( runs - j * per < per ? runs - j * per : per ))
  [ "$n" -gt 0 ] || break
  TORVEX_CAMPAIGN_RUNS=$n TORVEX_CAMPAIGN_SEED=$first QT_QPA_PLATFORM=offscreen \
    "${BUILD:-build}"/tests/test_campaign -o "$out/$j.txt,txt" >/dev/null 2>&1 &
done
wait || true
cat "$out"/*.txt > "$out/all"
grep -E '^(QINFO|FAIL|   Loc)' "$out/all" | sed 's/^QINFO  : TestCampaign::run([^)]*) //'
echo
echo "outcomes (0 ok, 2 no connection, 3 erase, 4 write mode, 5 write, 6 end of write, 7 reset, 8 unproven, 9 interrupted):"
grep -o 'outcome [0-9]*' "$out/all" | sort | uniq -c
echo "flash equal / differs / corrupted past a frame's checksum by the line (two errors that cancel; no updater can tell):"
grep -o 'flash [a-z].*$' "$out/all" | sort | uniq -c
echo "success claimed for a flash that differs: $(grep -c 'success claimed for a flash' "$out/all" || true)"
awk '/^Totals/ { p += $2; f += $4 } END { printf "Totals: %d passed, %d failed\n", p, f }' "$out/all"
! grep -q '^FAIL' "$out/all"
