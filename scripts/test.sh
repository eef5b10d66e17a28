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
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

passed=0
failed=0
summary=()
# run_suite <preset> [ctest arguments...]
run_suite() {
  local preset=$1
  shift
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: tests"
  local junit="$PWD/build/$preset/results.xml"
  rm -f "$junit"
  local status=0
  ctest --preset "$preset" --output-junit "$junit" "$@" || status=$?
  if [ ! -s "$junit" ]; then
    echo "=== $preset: ctest wrote no results" >&2
    exit 1
  fi
  # Counted from CTest's JUnit report; a skipped or disabled case counts as failed, since
  # nothing in these suites may skip.
  local total fails
  read -r total fails < <(python3 - "$junit" <<'PY'
import sys
import xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot()
total = int(suite.get("tests", 0))
bad = sum(int(suite.get(key, 0)) for key in ("failures", "errors", "skipped", "disabled"))
print(total, bad)
PY
  )
  if [ "$total" -eq 0 ]; then
    echo "=== $preset: no test ran" >&2
    exit 1
  fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  summary+=("$preset: $((total - fails)) passed, $fails failed")
  [ "$status" -eq 0 ] && [ "$fails" -eq 0 ] || { echo "=== $preset: FAILED" >&2; printf '%s\n' "${summary[@]}"; exit 1; }
}

run_suite native
run_suite fuzz
run_suite windows
run_suite windows64
# Whether 32-bit programs run here is told by running the 32-bit loader itself.
if why=$(timeout 60 /usr/lib/wine/wine --version 2>&1 >/dev/null); then
  run_suite wine32
  run_suite wine
else
  why=$(tr '\n' ' ' <<<"${why:-the 32-bit loader /usr/lib/wine/wine does not start}")
  echo "=== wine32: not run: $why"
  summary+=("wine32: not run: the 32-bit Wine loader cannot start here (${why% })")
  # The 64-bit system's 32-bit half (the shipped 32-bit files under WOW64) needs the same
  # loader; the rest of the wine suite runs.
  echo "=== wine, 32-bit half: not run: $why"
  summary+=("wine, 32-bit half: not run: the 32-bit Wine loader cannot start here (${why% })")
  run_suite wine -LE x86
fi

echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
