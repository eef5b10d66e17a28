#!/bin/sh
# Makes a fresh, headless Wine prefix for one test run and keeps its server alive for
# the whole suite. Fails loudly when Wine cannot start.
set -eu
. "$(dirname "$0")/wine-env.sh"
log="$WINEPREFIX.log"

"$WINESERVER" -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
: >"$log"

# Every Wine process below gets a log file instead of our stdout: processes that stay
# behind (the server, services.exe, ...) must not hold the test runner's pipe open.
run() { timeout 120 "$@" </dev/null >>"$log" 2>&1; }

if ! run "$WINE" wineboot -i; then
  echo "prefix-setup: wineboot failed; see $log" >&2
  cat "$log" >&2
  exit 1
fi
# No display: Wine's null graphics driver still gives hidden windows, timers and
# FindWindow. A crashing program must not wait on an invisible dialog.
run "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
run "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
# The settings take effect only after a restart of the server.
run "$WINESERVER" -k || true
run "$WINESERVER" -w || true

# A persistent server keeps the running services alive between test programs.
"$WINESERVER" -p </dev/null >>"$log" 2>&1
# Start the system processes now, with their output going to the log.
if ! run "$WINE" cmd /c exit; then
  echo "prefix-setup: Wine does not run programs in $WINEPREFIX; see $log" >&2
  cat "$log" >&2
  exit 1
fi
echo "prefix-setup: Wine prefix ready at $WINEPREFIX"
