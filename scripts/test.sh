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
# The Wine suites' tests mostly wait (on programs starting under Wine, on services, on
# timers), so they run beside the rest: first what they need is built (windows for the
# shipped files, native's pakrun-preview, the Wine suites themselves); then each Wine
# suite's tests run in the background, one suite per prefix, while this shell, at a lower
# scheduling priority so that the waiting tests are not starved, runs the windows suite
# (whose release checks build two releases), builds and tests native, then fuzz and
# windows64. A Wine suite's output goes to build/<preset>/test-output.log and is printed
# once its tests have ended. No suite reads what another suite's tests leave behind; the
# release checks rebuild build/windows only where its sources changed, which they do not
# during a run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
began=$(date +%s)

bash scripts/setup.sh

results=build/suite-results
rm -rf "$results"
mkdir -p "$results"

# record <preset> <ok|failed> <passed> <failed> <line>: the suite's outcome, in a file, as
# the Wine suites record theirs from a background shell.
record() {
  printf '%s %s %s\n%s\n' "$2" "$3" "$4" "$5" >"$results/$1"
  [ "$2" = ok ] || echo "=== $1: FAILED: ${5#"$1: "}" >&2
}

# build_suite <preset> [targets...]: configures and builds one preset (only the targets
# named, where any are); its seconds are added up for the suite's line. Returns 1, with
# the suite recorded as failed, when it cannot.
build_suite() {
  local preset=$1
  shift
  local start
  start=$(date +%s)
  echo "=== $preset: configure and build${1:+ ($*)}"
  local built=0
  [ ! -f "$results/$preset.build-seconds" ] || built=$(cat "$results/$preset.build-seconds")
  if ! cmake --preset "$preset" >/dev/null; then
    record "$preset" failed 0 0 "$preset: could not be configured ($((built + $(date +%s) - start)) s)"
    rm -f "$results/$preset.build-seconds"
    return 1
  fi
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  if ! cmake --build --preset "$preset" "${targets[@]}"; then
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
  echo "=== $preset: tests"
  local junit="$PWD/build/$preset/results.xml"
  rm -f "$junit"
  local status=0
  ctest --preset "$preset" --output-junit "$junit" "$@" || status=$?
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

# What the Wine suites need first: the shipped 32-bit files, the native pakrun-preview
# (whose plans they check) and their own builds.
build_suite windows || true
build_suite native pakrun-preview || true
for suite in "${wine_suites[@]}"; do build_suite "${suite%% *}" || true; done

# Each Wine suite in the background, in its own prefix; bounded by its tests' time-outs.
background=()
for suite in "${wine_suites[@]}"; do
  preset=${suite%% *}
  mkdir -p "build/$preset"
  # shellcheck disable=SC2086  # the suite's ctest arguments are words
  test_suite $suite >"build/$preset/test-output.log" 2>&1 &
  background+=("$!:$preset")
  echo "=== $preset: tests started beside the others (output: build/$preset/test-output.log)"
done
renice -n 10 -p $$ >/dev/null || true

# The release checks, which use the processors least fully (configure steps, links, one
# build after another), run while the Wine tests do; the suites that keep both processors
# busy come after.
test_suite windows
# Once its failure is recorded a suite's tests are not run; what failed to build of a
# suite fails it.
[ ! -f "$results/native.build-seconds" ] || build_suite native || true
test_suite native
build_suite fuzz && test_suite fuzz
build_suite windows64 && test_suite windows64

for job in "${background[@]}"; do
  wait "${job%%:*}" || true
  preset=${job#*:}
  echo "=== $preset: the output of its tests"
  cat "build/$preset/test-output.log" || true
  # A background shell that ended without recording anything failed as a whole.
  [ -f "$results/$preset" ] || record "$preset" failed 0 0 "$preset: its tests ended without a result"
done

passed=0
failed=0
failed_suites=()
echo "=== summary"
for preset in native fuzz windows windows64 wine32 wine; do
  if [ "$preset" = wine32 ] && [ ${#notes[@]} -gt 0 ]; then
    printf '%s\n' "${notes[@]}"
    continue
  fi
  [ -f "$results/$preset" ] || continue
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
