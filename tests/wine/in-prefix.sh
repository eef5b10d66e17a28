#!/bin/sh
# Runs a Windows program in the suite's Wine prefix (set up by prefix-setup.sh).
set -eu
. "$(dirname "$0")/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "in-prefix: no Wine prefix at $WINEPREFIX (the prefix fixture did not run)" >&2
  exit 1
fi
# The output goes through a file, not a pipe: a child the program leaves running (a
# service, a stand-in) may hold it open long after the program has ended.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
"$WINE" "$@" >"$out" 2>&1 || status=$?
if [ "$status" -ne 0 ] && [ ! -s "$out" ]; then
  # Under load the loader now and then gives up before the program has printed a thing;
  # the program did not run, so it is started once more, and the log says so.
  echo "in-prefix: Wine ended with status $status before $1 printed anything; starting it again" >&2
  status=0
  "$WINE" "$@" >"$out" 2>&1 || status=$?
fi
cat "$out"
exit "$status"
