#!/bin/sh
# Ends the suite's Wine server and everything still running in the prefix.
set -eu
. "$(dirname "$0")/wine-env.sh"
"$WINESERVER" -k >/dev/null 2>&1 || true
timeout 30 "$WINESERVER" -w >/dev/null 2>&1 || true
echo "prefix-teardown: Wine server for $WINEPREFIX ended"
