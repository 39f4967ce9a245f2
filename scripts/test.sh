#!/usr/bin/env bash
# Installs what is missing, builds, runs the whole test suite headless, then
# the emulated-PC rig (tests/vm/run.sh) through real serial drivers, then
# builds and checks the Debian package (scripts/package.sh). The tests run
# even when the package check cannot; the test summary is repeated last.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
# Whatever stops for want of packages names this script to run again.
export TORVEX_SCRIPT=scripts/test.sh
bash scripts/setup.sh "$build" "$@"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j12 | tee "$log" || status=1
summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n1 || true)

echo
echo "Real serial drivers in an emulated PC (tests/vm/run.sh):"
bash tests/vm/run.sh "$build" | tee -a "$log" || status=1
rig=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n1 || true)

echo
echo "Package check (scripts/package.sh):"
if ! bash scripts/package.sh; then
  echo "scripts/test.sh: the package check (scripts/package.sh) did not pass, see above; the tests ran." >&2
  status=1
fi
echo
echo "emulated PC: ${rig:-the rig printed no summary}"
echo "${summary:-ctest printed no summary: the tests did not run}"
exit "$status"
