# Sourced by the Wine scripts: the 64-bit Wine loader and server, quiet and headless.
# Debian's "wine" wrapper prefers the 32-bit loader whenever it is installed, which fails
# on kernels that cannot execute 32-bit programs, so the loader is named directly.
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
if [ ! -x "$WINE64" ] || [ ! -x "$WINESERVER" ]; then
  echo "wine-env: $WINE64 or $WINESERVER missing (apt-get install wine64)" >&2
  exit 1
fi
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-env: WINEPREFIX is not set" >&2
  exit 1
fi
export WINEPREFIX WINESERVER
export WINELOADER="$WINE64"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
