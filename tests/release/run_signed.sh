#!/usr/bin/env bash
# Signs copies of the shipped 32-bit executables as the release does (scripts/sign.sh,
# with a throwaway certificate), runs each in the Wine suite's prefix in a folder of its
# own beside what it needs, and expects the exit codes of its unsigned twin, run the same
# way: Quitpanel 0, Scrubnet 0, Pakrun 1 (no settings file, no setup program), Svcpilot 0
# (no option on its command line).
# Usage: run_signed.sh <folder of the shipped executables> <radioapi.dll>
set -euo pipefail
unsigned=$1
radio=$2
here=$(cd "$(dirname "$0")" && pwd)
inprefix="$here/../wine/in-prefix.sh"
[ -f "$unsigned/Pakrun.exe" ] || { echo "run_signed: no shipped executables in $unsigned" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/throwaway_key.sh" "$work/keys"
mkdir "$work/signed"
programs=(Quitpanel.exe Scrubnet.exe Pakrun.exe Svcpilot.exe)
for program in "${programs[@]}"; do cp "$unsigned/$program" "$work/signed/"; done
(cd "$work/signed" && SIGN_PFX="$work/keys/signing.pfx" SIGN_PASSWORD=throwaway \
   bash "$here/../../scripts/sign.sh" "${programs[@]}")
status=0
for entry in Quitpanel.exe:0 Scrubnet.exe:0 Pakrun.exe:1 Svcpilot.exe:0; do
  program=${entry%%:*}
  expected=${entry##*:}
  for kind in signed unsigned; do
    folder="$work/$kind-${program%.exe}"
    mkdir -p "$folder"
    if [ "$kind" = signed ]; then cp "$work/signed/$program" "$folder/"; else cp "$unsigned/$program" "$folder/"; fi
    cmp -s "$folder/$program" "$unsigned/$program" && [ "$kind" = signed ] &&
      { echo "run_signed: $program was not changed by signing" >&2; status=1; }
    cp "$radio" "$folder/"
    code=0
    (cd "$folder" && timeout 120 "$inprefix" "$folder/$program" >/dev/null) || code=$?
    echo "run_signed: $kind $program exited with $code"
    [ "$code" = "$expected" ] || status=1
  done
done
exit "$status"
