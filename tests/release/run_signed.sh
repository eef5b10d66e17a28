#!/usr/bin/env bash
# Runs the signed executables of the windows suite's release check (release.signed) in the
# Wine suite's prefix, each as a copy in a folder of its own beside what it needs, and
# expects the exit codes of their unsigned twins: Quitpanel 0, Scrubnet 0, Pakrun 1 (no
# settings file, no setup program), Svcpilot 0 (no option on its command line).
# Usage: run_signed.sh <folder of the signed package> <radioapi.dll> <unsigned folder>
set -euo pipefail
signed=$1
radio=$2
unsigned=$3
here=$(cd "$(dirname "$0")" && pwd)
inprefix="$here/../wine/in-prefix.sh"
[ -f "$signed/Pakrun.exe" ] ||
  { echo "run_signed: no signed package in $signed (the windows suite's release.signed makes it)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for entry in Quitpanel.exe:0 Scrubnet.exe:0 Pakrun.exe:1 Svcpilot.exe:0; do
  program=${entry%%:*}
  expected=${entry##*:}
  for kind in signed unsigned; do
    folder="$work/$kind-${program%.exe}"
    mkdir -p "$folder"
    if [ "$kind" = signed ]; then cp "$signed/$program" "$folder/"; else cp "$unsigned/$program" "$folder/"; fi
    cp "$radio" "$folder/"
    code=0
    (cd "$folder" && timeout 120 "$inprefix" "$folder/$program" >/dev/null) || code=$?
    echo "run_signed: $kind $program exited with $code"
    [ "$code" = "$expected" ] || status=1
  done
done
exit "$status"
