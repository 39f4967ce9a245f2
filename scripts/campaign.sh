#!/usr/bin/env bash
# A long fault campaign: many seeded runs of a whole update against a
# simulated indicator that injects noise, refusals, lost and truncated
# replies, delays and hang-ups. Usage: scripts/campaign.sh [RUNS] [FIRST_SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
seed=${2:-1000}
bash scripts/setup.sh build >/dev/null
out=$(mktemp)
TORVEX_CAMPAIGN_RUNS=$runs TORVEX_CAMPAIGN_SEED=$seed QT_QPA_PLATFORM=offscreen \
  build/tests/test_campaign -o "$out,txt" || true
grep -E '^(QINFO|FAIL|   Loc)' "$out" | sed 's/^QINFO  : TestCampaign::run([^)]*) //'
echo
echo "outcomes (0 ok, 2 no connection, 3 erase, 4 write mode, 5 write, 6 end of write, 7 reset):"
grep -o 'outcome [0-9]*' "$out" | sort | uniq -c
echo "flash equal / differs:"
grep -o 'flash [a-z]*$' "$out" | sort | uniq -c
grep -E '^Totals' "$out"
! grep -q '^FAIL' "$out"
