#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine. Idempotent: quick
# when everything is already there.
set -euo pipefail

packages=(cmake make g++ python3 googletest
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64
          osslsigncode openssl file
          clang-14 libclang-rt-14-dev
          libcli11-dev nlohmann-json3-dev)

# apt-get update fails as a whole when one index is caught mid-sync on the archive
# ("File has unexpected size"); the next try a little later gets a consistent set.
# apt_update [tries]: five tries unless fewer are named.
apt_update() {
  local try tries=${1:-5}
  for ((try = 1; try <= tries; try++)); do
    apt-get update -q && return 0
    [ "$try" -lt "$tries" ] || break
    echo "setup: apt-get update failed (try $try of $tries); trying again" >&2
    sleep $((try * 10))
  done
  # The indexes that did arrive are used; the install below says whether they suffice.
  echo "setup: apt-get update kept failing; installing from the indexes at hand" >&2
}

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# Only what the packages depend on: Wine's recommendations (graphics drivers, media
# plug-ins, fonts) add over two hundred packages and about twice the install time, for
# programs that show no window.
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  apt_install "${missing[@]}"
fi

# wine32, of the i386 architecture, is the 32-bit loader that runs the shipped PE32 files.
# Where the kernel starts no 32-bit program it could not run, so it is not installed there
# (adding the architecture would only add an index to every update); scripts/test.sh
# says in its summary that the 32-bit suite cannot run.
source "$(dirname "$0")/lib.sh"
kernel=0
kernel_runs_i386 || kernel=$?
if [ "$kernel" -eq 1 ]; then
  echo "setup: the kernel does not start 32-bit programs (${kernel_said% }); wine32 is not installed"
elif ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  added_i386=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    dpkg --add-architecture i386
    added_i386=1
  fi
  # Optional: two tries, as an i386 index that a mirror serves inconsistently for minutes
  # would otherwise hold up the whole run only to end the same way.
  echo "setup: installing wine32:i386"
  apt_update 2
  if ! apt_install wine32:i386; then
    echo "setup: wine32 could not be installed; the 32-bit suite will not run" >&2
    # The architecture added for it goes again (where nothing of it got installed), so
    # that later updates do not fetch, and fail on, its indexes.
    if [ "$added_i386" -eq 1 ] && dpkg --remove-architecture i386 2>/dev/null; then
      echo "setup: the i386 architecture is removed again"
    fi
  fi
fi

for tool in cmake ctest clang++-14 i686-w64-mingw32-g++ i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix \
            /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 python3; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after install" >&2; exit 1; }
done
# libFuzzer's runtime, for the fuzz targets (preset fuzz).
[ -f "$(clang++-14 -print-runtime-dir)/libclang_rt.fuzzer-x86_64.a" ] ||
  { echo "setup: libFuzzer (libclang-rt-14-dev) missing" >&2; exit 1; }
[ -f /usr/src/googletest/CMakeLists.txt ] || { echo "setup: GoogleTest sources missing" >&2; exit 1; }
# node and npm come from Debian's nodejs and npm where the machine has neither command (a
# node installed otherwise, which brings its own npm, is kept: Debian's npm would conflict).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "setup: installing nodejs npm"
  apt_update
  apt_install nodejs npm
fi
# The SARIF validator of pakrun-preview's tests: the npm packages pinned in its lock file,
# installed into build/sarif-validator, again only when the lock changes (the copy named
# installed.lock is written after a whole install). Should npm fail, setup goes on and the
# test that needs the validator fails, saying so.
lock=tools/pakrun-preview/tests/sarif/package-lock.json
validator=build/sarif-validator
cd "$(dirname "$0")/.."
if ! cmp -s "$lock" "$validator/installed.lock"; then
  echo "setup: installing the SARIF validator (npm ci) into $validator"
  for try in 1 2 3; do
    rm -rf "$validator"
    mkdir -p "$validator"
    cp tools/pakrun-preview/tests/sarif/package.json "$lock" "$validator/"
    if (cd "$validator" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error); then
      cp "$lock" "$validator/installed.lock"
      break
    fi
    echo "setup: npm ci failed (try $try of 3)" >&2
    sleep $((try * 10))
  done
fi
for tool in node npm; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after install" >&2; exit 1; }
done
if cmp -s "$lock" "$validator/installed.lock"; then
  echo "setup: toolchains, clang with libFuzzer, Wine, GoogleTest and the SARIF validator present"
else
  echo "setup: toolchains, clang with libFuzzer, Wine and GoogleTest present; the SARIF validator is not (its test will fail)" >&2
fi
