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
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
began=$(date +%s)

bash scripts/setup.sh

passed=0
failed=0
summary=()
failed_suites=()

# suite_failed <preset> <line>: the suite's summary line, and the suite among the failed.
suite_failed() {
  echo "=== $1: FAILED: ${2#"$1: "}" >&2
  summary+=("$2")
  failed_suites+=("$1")
}

# run_suite <preset> [ctest arguments...]: configures, builds and tests one preset. Never
# ends the script: whatever goes wrong is the suite's failure, told in its summary line.
run_suite() {
  local preset=$1
  shift
  local start=$SECONDS
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >/dev/null; then
    suite_failed "$preset" "$preset: could not be configured ($((SECONDS - start)) s)"
    return 0
  fi
  if ! cmake --build --preset "$preset"; then
    suite_failed "$preset" "$preset: could not be built ($((SECONDS - start)) s)"
    return 0
  fi
  echo "=== $preset: tests"
  local junit="$PWD/build/$preset/results.xml"
  rm -f "$junit"
  local status=0
  ctest --preset "$preset" --output-junit "$junit" "$@" || status=$?
  if [ ! -s "$junit" ]; then
    suite_failed "$preset" "$preset: ctest wrote no results (status $status, $((SECONDS - start)) s)"
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
    suite_failed "$preset" "$preset: its results could not be read ($((SECONDS - start)) s)"
    return 0
  fi
  if [ "$total" -eq 0 ]; then
    suite_failed "$preset" "$preset: no test ran ($((SECONDS - start)) s)"
    return 0
  fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  local line="$preset: $((total - fails)) passed, $fails failed ($((SECONDS - start)) s)"
  if [ "$status" -eq 0 ] && [ "$fails" -eq 0 ]; then
    summary+=("$line")
  else
    suite_failed "$preset" "$line"
  fi
}

run_suite native
run_suite fuzz
run_suite windows
run_suite windows64
if runs_32bit; then
  run_suite wine32
  run_suite wine
else
  echo "=== wine32: not run: $why_no_32bit"
  summary+=("wine32: not run: $why_no_32bit")
  # The 64-bit system's 32-bit half (the shipped 32-bit files under WOW64) needs the same
  # loader; the rest of the wine suite runs.
  echo "=== wine, 32-bit half: not run: $why_no_32bit"
  summary+=("wine, 32-bit half: not run: $why_no_32bit")
  run_suite wine -LE x86
fi

echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
echo "whole run, set-up included: $(($(date +%s) - began)) s"
if [ ${#failed_suites[@]} -gt 0 ]; then
  echo "suites that failed: ${failed_suites[*]}"
  exit 1
fi
