#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine. Idempotent: quick
# when everything is already there.
set -euo pipefail

packages=(cmake make g++ python3 googletest
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

for tool in cmake ctest i686-w64-mingw32-g++ x86_64-w64-mingw32-g++-posix \
            /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 python3; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after install" >&2; exit 1; }
done
[ -f /usr/src/googletest/CMakeLists.txt ] || { echo "setup: GoogleTest sources missing" >&2; exit 1; }
echo "setup: toolchains, Wine and GoogleTest present"
