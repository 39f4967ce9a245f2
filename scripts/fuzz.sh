#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang and runs each one.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (60 s per target by default)
# Prints one line per target; exits non-zero when a target crashed, leaving the
# crashing input in build-fuzz/crashes/ (replay it by passing it to the target).
# Inputs that reached new code are kept in build-fuzz/corpus/, so later runs
# go on from there; the seeds under tests/fuzz/corpus/ are never written.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_config fuzz_image fuzz_reply fuzz_receiver)
build=build-fuzz

have_libfuzzer() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local probe
  probe=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' \
    > "$probe/probe.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1
  local ok=$?
  rm -rf "$probe"
  return $ok
}

. scripts/packages.sh
ensure_packages cmake make qt6-base-dev qt6-serialport-dev
# The fuzzing runtime is only a recommendation of clang's package.
have_libfuzzer || ensure_packages clang libclang-rt-dev

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORVEX_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build/crashes" "$build/logs"
failed=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus"
  rc=0
  "$build/tests/fuzz/$t" "$corpus" "tests/fuzz/corpus/$t" \
    -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$t-" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n1)
  if [ "$rc" -eq 0 ]; then
    printf '%-14s %10s runs %7s exec/s  0 crashes  corpus %s files\n' \
      "$t" "${runs:-?}" "${rate:-?}" "$(find "$corpus" -type f | wc -l)"
  else
    failed=1
    printf '%-14s %10s runs %7s exec/s  1 crash    input %s, log %s\n' \
      "$t" "${runs:-?}" "${rate:-?}" "${artifact:-?}" "$log"
  fi
done
exit $failed
