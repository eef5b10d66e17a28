#!/usr/bin/env bash
# Sets up, builds and runs the demo: one adapter's life cycle, told by the four programs at
# work in a throwaway Wine prefix. Where this machine runs 32-bit programs, the prefix is a
# 32-bit one and the programs are the shipped files of build/windows/bin; elsewhere the
# demo runs under 64-bit Wine with the x86_64 rebuilds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

source scripts/lib.sh
if runs_32bit; then
  export TOOLS_WINE_ARCH=win32
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target Airtoggle Pakrun Scrubnet Quitpanel
  cmake --preset wine32 >/dev/null
  cmake --build --preset wine32 --target demo
  demo=build/wine32/bin/demo.exe
  # Wine's drive Z: is the Unix root.
  shipped="Z:$PWD/build/windows/bin"
  export TOOLS_SHIPPED_DIR=${shipped//\//\\}
else
  echo "demo: 32-bit programs do not run here ($why_no_32bit); the demo runs under 64-bit Wine"
  export TOOLS_WINE_ARCH=win64
  cmake --preset wine >/dev/null
  cmake --build --preset wine --target demo
  demo=build/wine/bin/demo.exe
  unset TOOLS_SHIPPED_DIR
fi

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/adapter-demo.XXXXXX)
trap 'tests/wine/prefix-teardown.sh >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$WINEPREFIX.log"' EXIT
tests/wine/prefix-setup.sh
timeout 300 tests/wine/in-prefix.sh "$demo" | tr -d '\r'
