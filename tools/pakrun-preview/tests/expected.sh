#!/bin/sh
# Writes pakrun-preview's JSON plan for each case of its integration test under Wine:
# <case>.args holds the settings file (relative to the cases folder) and the options, one
# per line. Usage: expected.sh PREVIEW CASES-DIR OUT-DIR
set -eu
preview=$1
cases=$2
out=$3
if [ ! -x "$preview" ]; then
  echo "expected: no pakrun-preview at $preview (build the native preset first)" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out"
for args in "$cases"/*.args; do
  name=$(basename "$args" .args)
  set --
  while IFS= read -r line || [ -n "$line" ]; do
    if [ $# -eq 0 ]; then set -- "$cases/$line"; else set -- "$@" "$line"; fi
  done <"$args"
  timeout 30 "$preview" "$@" --format json >"$out/$name.json"
  echo "expected: $out/$name.json"
done
