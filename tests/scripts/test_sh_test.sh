#!/usr/bin/env bash
# scripts/test.sh against stand-in cmake and ctest: every suite runs and gets its line in
# the summary whatever else fails; a suite that cannot be configured, built or read, or
# whose tests fail, fails the run (exit 1, named in "suites that failed:") and has its log
# printed; where 32-bit programs cannot run, the two "not run" lines stand in for them and
# the wine suite runs without its x86 cases.
set -euo pipefail
source_root=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/tree/scripts"
cp "$source_root/scripts/test.sh" "$work/tree/scripts/"
echo 'true' >"$work/tree/scripts/setup.sh"
cat >"$work/tree/scripts/lib.sh" <<'STANDIN'
runs_32bit() { why_no_32bit="stand-in says no"; [ "$FAKE_32BIT" = 1 ]; }
STANDIN
# FAKE_FAIL names what goes wrong: configure:<preset>, build:<preset>, tests:<preset> (one
# of three cases fails) or noresults:<preset> (ctest ends without writing its report).
cat >"$work/bin/cmake" <<'STANDIN'
#!/usr/bin/env bash
if [ "$1" = --build ]; then step=build preset=$3; else step=configure preset=$2; fi
echo "stand-in cmake: $step $preset"
case " $FAKE_FAIL " in *" $step:$preset "*) exit 1 ;; esac
STANDIN
cat >"$work/bin/ctest" <<'STANDIN'
#!/usr/bin/env bash
preset=$2 junit=$4
echo "stand-in ctest: $preset${5:+ ${*:5}}"
case " $FAKE_FAIL " in *" noresults:$preset "*) exit 8 ;; esac
fails=0
case " $FAKE_FAIL " in *" tests:$preset "*) fails=1 ;; esac
mkdir -p "$(dirname "$junit")"
echo "<testsuite tests=\"3\" failures=\"$fails\" errors=\"0\" skipped=\"0\"/>" >"$junit"
exit "$fails"
STANDIN
chmod +x "$work/bin/cmake" "$work/bin/ctest"

failures=0
# check <32-bit runs: 1|0> <FAKE_FAIL> <exit status> <line that must be printed>...
check() {
  local runs32=$1 fail=$2 want=$3 status=0 line
  shift 3
  rm -rf "$work/tree/build"
  out=$(cd "$work/tree" && FAKE_32BIT=$runs32 FAKE_FAIL=$fail PATH="$work/bin:$PATH" \
        timeout 120 bash scripts/test.sh 2>&1) || status=$?
  local wrong=()
  [ "$status" -eq "$want" ] || wrong+=("exit status $status, not $want")
  for line in "$@"; do
    grep -qxF -- "$line" <<<"$out" || wrong+=("no line: $line")
  done
  # Every suite has its line, with its seconds, or its "not run" line.
  for preset in native fuzz windows windows64 wine32 wine; do
    grep -qE "^$preset(: .*[( ][0-9]+ s\)|: not run: .*)$" <<<"$out" || wrong+=("no summary line for $preset")
  done
  if [ ${#wrong[@]} -gt 0 ]; then
    failures=$((failures + 1))
    printf 'FAILED (32-bit %s, fail "%s"):\n' "$runs32" "$fail"
    printf '  %s\n' "${wrong[@]}"
    printf '%s\n' "$out" | sed 's/^/  | /'
  fi
}

check 1 "" 0 "18 passed, 0 failed" "stand-in ctest: wine"
check 1 "configure:fuzz build:windows noresults:native tests:wine32" 1 \
  "suites that failed: native fuzz windows wine32" "8 passed, 1 failed" \
  "stand-in cmake: build windows" "stand-in cmake: configure fuzz" "stand-in ctest: wine32"
check 0 "tests:wine" 1 \
  "wine32: not run: stand-in says no" "wine, 32-bit half: not run: stand-in says no" \
  "stand-in ctest: wine -LE x86" "suites that failed: wine" "14 passed, 1 failed"
[ "$failures" -eq 0 ] && echo "test.sh: every case as expected"
