# Sourced by the Wine scripts: the loader and server for the prefix's architecture, quiet
# and headless. TOOLS_WINE_ARCH is win32 (the 32-bit loader, for the shipped PE32 files)
# or win64 (the default). Debian's "wine" wrapper prefers the 32-bit loader whenever it is
# installed, which fails on kernels that cannot execute 32-bit programs, so the loader is
# always named directly.
TOOLS_WINE_ARCH=${TOOLS_WINE_ARCH:-win64}
case "$TOOLS_WINE_ARCH" in
  win32) WINE=${WINE:-/usr/lib/wine/wine}; WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver32}
         package="wine32 (architecture i386)" ;;
  win64) WINE=${WINE:-/usr/lib/wine/wine64}; WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
         package="wine64" ;;
  *) echo "wine-env: TOOLS_WINE_ARCH must be win32 or win64, not $TOOLS_WINE_ARCH" >&2; exit 1 ;;
esac
if [ ! -x "$WINE" ] || [ ! -x "$WINESERVER" ]; then
  echo "wine-env: $WINE or $WINESERVER missing (apt-get install $package)" >&2
  exit 1
fi
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-env: WINEPREFIX is not set" >&2
  exit 1
fi
export WINEPREFIX WINESERVER
export WINELOADER="$WINE"
export WINEARCH="$TOOLS_WINE_ARCH"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
