#!/bin/sh
# Runs a Windows program in the suite's Wine prefix (set up by prefix-setup.sh).
set -eu
. "$(dirname "$0")/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "in-prefix: no Wine prefix at $WINEPREFIX (the prefix fixture did not run)" >&2
  exit 1
fi
exec "$WINE" "$@"
