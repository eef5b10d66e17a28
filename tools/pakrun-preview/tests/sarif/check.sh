#!/bin/sh
# Runs pakrun-preview --format sarif on settings files with known traps and validates each
# log with a real SARIF 2.1.0 validator (validate.js). Fails, never skips, when node or the
# validator is missing. Usage: check.sh PREVIEW MODULES-DIR OUT-DIR SETTINGS-FILE...
set -eu
preview=$1
modules=$2
out=$3
shift 3
here=$(dirname "$0")
fail() {
  echo "sarif: $*" >&2
  exit 1
}
[ -x "$preview" ] || fail "no pakrun-preview at $preview"
command -v node >/dev/null || fail "node is missing (scripts/setup.sh installs nodejs)"
[ -f "$modules/ajv/package.json" ] && [ -f "$modules/@microsoft/jest-sarif/package.json" ] ||
  fail "the validator is missing from $modules (scripts/setup.sh installs it with npm ci)"
rm -rf "$out"
mkdir -p "$out"
for settings in "$@"; do
  log="$out/$(basename "$settings" .ini).sarif"
  code=0
  timeout 30 "$preview" "$settings" --format sarif >"$log" || code=$?
  [ "$code" -eq 0 ] || fail "pakrun-preview exited with $code on $settings"
done
timeout 60 node "$here/validate.js" "$modules" "$out"/*.sarif
