#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every suite:
#   native   unit tests on the substitute machine (AddressSanitizer + UBSan)
#   fuzz     a short libFuzzer run of each fuzz target over its seeds (clang)
#   windows  the shipped 32-bit executables, checked as files, and the release package
#   windows64  the shipped 64-bit executables (the release's x64/), checked as files
#   wine32   integration tests built for i686, starting the shipped executables under
#            32-bit Wine (only where the kernel runs 32-bit programs)
#   wine     the same sources built for x86_64, integration tests under 64-bit Wine, and
#            the 64-bit system: the x86_64 builds and (only where the kernel runs 32-bit
#            programs; the cases labelled x86) the shipped 32-bit files under WOW64
# Every suite runs, even after one has failed or could not be built. The summary ends the
# run: one line per suite with its time in seconds, the totals, and the suites that failed;
# the exit status is 1 when any did.
#
# The Wine suites' tests run beside the rest: their programs start under Wine, wait on
# services and timers, and leave a processor partly free, while the release checks of the
# windows suite (two releases, built one after another, with configure steps and links
# that use one processor) leave the other partly free. So:
#   1. windows (the shipped files), native's pakrun-preview and the Wine suites are built;
#   2. each Wine suite's tests start in the background, one suite per prefix;
#   3. this shell, at a lower scheduling priority so that the waiting tests are not
#      starved, runs the windows suite's tests, builds and tests the rest of native, then
#      fuzz and windows64.
# Builds are not run side by side: on two processors that made the whole run slower.
# Each suite's output goes to build/suite-logs/<preset>.log and is printed whole once the
# suite has ended; the console meanwhile gets one line per step. No suite reads what
# another suite's tests leave behind; the release checks rebuild build/windows only where
# its sources changed, which they do not during a run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
began=$(date +%s)

bash scripts/setup.sh

results=build/suite-results
logs=build/suite-logs
rm -rf "$results" "$logs"
mkdir -p "$results" "$logs"

# record <preset> <ok|failed> <passed> <failed> <line>: the suite's outcome, in a file, as
# the suites run in background shells.
record() {
  printf '%s %s %s\n%s\n' "$2" "$3" "$4" "$5" >"$results/$1"
  [ "$2" = ok ] || echo "=== $1: FAILED: ${5#"$1: "}"
}

# step <preset> <what>: says on the console and in the suite's log what the suite does now.
step() {
  echo "=== $1: $2"
  echo "=== $1: $2" >>"$logs/$1.log"
}

# show_log <preset>: prints the suite's whole log, never interleaved with another's.
show_log() {
  flock "$logs/.console" cat "$logs/$1.log" 2>/dev/null || true
}

# build_suite <preset> [targets...]: configures and builds one preset (only the targets
# named, where any are); its seconds are added up for the suite's line. Returns 1, with
# the suite recorded as failed, when it cannot.
build_suite() {
  local preset=$1
  shift
  local start built=0
  start=$(date +%s)
  step "$preset" "configure and build${1:+ ($*)}"
  [ ! -f "$results/$preset.build-seconds" ] || built=$(cat "$results/$preset.build-seconds")
  if ! cmake --preset "$preset" >>"$logs/$preset.log" 2>&1; then
    record "$preset" failed 0 0 "$preset: could not be configured ($((built + $(date +%s) - start)) s)"
    rm -f "$results/$preset.build-seconds"
    return 1
  fi
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  if ! cmake --build --preset "$preset" "${targets[@]}" >>"$logs/$preset.log" 2>&1; then
    record "$preset" failed 0 0 "$preset: could not be built ($((built + $(date +%s) - start)) s)"
    rm -f "$results/$preset.build-seconds"
    return 1
  fi
  echo $((built + $(date +%s) - start)) >"$results/$preset.build-seconds"
}

# test_suite <preset> [ctest arguments...]: runs the tests of a preset built by build_suite
# and records the outcome. Never ends the script: whatever goes wrong is the suite's
# failure, told in its line.
test_suite() {
  local preset=$1
  shift
  [ -f "$results/$preset.build-seconds" ] || return 0  # recorded when it failed to build
  local start
  start=$(($(date +%s) - $(cat "$results/$preset.build-seconds")))
  step "$preset" tests
  local junit="$PWD/build/$preset/results.xml"
  rm -f "$junit"
  local status=0
  ctest --preset "$preset" --output-junit "$junit" "$@" >>"$logs/$preset.log" 2>&1 || status=$?
  local took=$(($(date +%s) - start))
  if [ ! -s "$junit" ]; then
    record "$preset" failed 0 0 "$preset: ctest wrote no results (status $status, $took s)"
    return 0
  fi
  # Counted from CTest's JUnit report; a skipped or disabled case counts as failed, since
  # nothing in these suites may skip.
  local total='' fails=''
  read -r total fails < <(python3 - "$junit" <<'PY'
import sys
import xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot()
total = int(suite.get("tests", 0))
bad = sum(int(suite.get(key, 0)) for key in ("failures", "errors", "skipped", "disabled"))
print(total, bad)
PY
  ) || true
  if [ -z "$total" ] || [ -z "$fails" ]; then
    record "$preset" failed 0 0 "$preset: its results could not be read ($took s)"
    return 0
  fi
  if [ "$total" -eq 0 ]; then
    record "$preset" failed 0 0 "$preset: no test ran ($took s)"
    return 0
  fi
  local outcome=ok
  [ "$status" -eq 0 ] && [ "$fails" -eq 0 ] || outcome=failed
  record "$preset" "$outcome" $((total - fails)) "$fails" \
    "$preset: $((total - fails)) passed, $fails failed ($took s)"
}

# run_suite <preset> [ctest arguments...]: builds and tests a preset, then shows its log.
run_suite() {
  local preset=$1
  shift
  build_suite "$preset" && test_suite "$preset" "$@"
  show_log "$preset"
}

# The Wine suites that run here, each with its ctest arguments.
wine_suites=()
notes=()
if runs_32bit; then
  wine_suites=("wine32" "wine")
else
  # The 64-bit system's 32-bit half (the shipped 32-bit files under WOW64) needs the same
  # loader; the rest of the wine suite runs.
  notes=("wine32: not run: $why_no_32bit" "wine, 32-bit half: not run: $why_no_32bit")
  printf '=== %s\n' "${notes[@]}"
  wine_suites=("wine -LE x86")
fi

# 1. What the Wine suites need.
build_suite windows || true
build_suite native pakrun-preview || true
for suite in "${wine_suites[@]}"; do build_suite "${suite%% *}" || true; done

# 2. Each Wine suite's tests, in the background; bounded by their time-outs.
jobs=()
for suite in "${wine_suites[@]}"; do
  # shellcheck disable=SC2086  # the suite's ctest arguments are words
  { test_suite $suite; show_log "${suite%% *}"; } & jobs+=($!)
done

# 3. The rest. Once a suite's failure is recorded, nothing more of it is built or run.
renice -n 10 -p $$ >/dev/null || true
test_suite windows
show_log windows
[ ! -f "$results/native.build-seconds" ] || build_suite native || true
test_suite native
show_log native
run_suite fuzz
run_suite windows64
for job in "${jobs[@]}"; do wait "$job" || true; done

passed=0
failed=0
failed_suites=()
echo "=== summary"
for preset in native fuzz windows windows64 wine32 wine; do
  if [ "$preset" = wine32 ] && [ ${#notes[@]} -gt 0 ]; then
    printf '%s\n' "${notes[@]}"
    continue
  fi
  # A suite that ended without recording anything failed as a whole.
  [ -f "$results/$preset" ] || record "$preset" failed 0 0 "$preset: ended without a result"
  { read -r outcome good bad; read -r line; } <"$results/$preset"
  echo "$line"
  passed=$((passed + good))
  failed=$((failed + bad))
  [ "$outcome" = ok ] || failed_suites+=("$preset")
done
echo "$passed passed, $failed failed"
echo "whole run, set-up included: $(($(date +%s) - began)) s"
if [ ${#failed_suites[@]} -gt 0 ]; then
  echo "suites that failed: ${failed_suites[*]}"
  exit 1
fi
