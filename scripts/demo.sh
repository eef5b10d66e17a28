#!/usr/bin/env bash
# Sets up, builds and runs the demo: the programs at work in a throwaway Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset wine >/dev/null
cmake --build --preset wine --target demo

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/adapter-demo.XXXXXX)
trap 'tests/wine/prefix-teardown.sh >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$WINEPREFIX.log"' EXIT
tests/wine/prefix-setup.sh
timeout 300 tests/wine/in-prefix.sh build/wine/bin/demo.exe | tr -d '\r'
