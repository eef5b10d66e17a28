#!/usr/bin/env bash
# Builds the release package from the sources in this tree through the presets windows
# (i686, with pakrun-preview for Windows), windows64 (x86-64) and preview (pakrun-preview
# for Linux), each in a build folder of its own:
#   build/release/<name>-<version>/      Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe
#                                        (32-bit, i386), x64/ with the same four built for
#                                        x86-64, package-authors-guide.md NOTICE SHA256SUMS,
#                                        tools/ with pakrun-preview.exe (32-bit Windows
#                                        console), linux-x86_64/pakrun-preview and the
#                                        tool's manual pakrun-preview.md
#   build/release/<name>-<version>.zip   the same folder, zipped
# The version is the project's, named once in the top CMakeLists.txt. Two runs on the same
# sources give the same bytes: the executables carry no time stamp or build path, and the
# ZIP holds its entries in name order with one fixed date (SOURCE_DATE_EPOCH, or the last
# commit's when the tree is a Git checkout).
#
# Signing (optional): with SIGN_PFX (a PKCS#12 file) and SIGN_PASSWORD set, each
# executable of both machines gets an Authenticode signature with a SHA-1 digest, which
# Windows 2000 and XP up to SP2 can check, and a SHA-256 signature nested in it for later
# systems, before the checksums are made. Both are time-stamped by the RFC 3161 server
# SIGN_TIMESTAMP_URL when one is named; without one the script says that the signatures
# end with the certificate. Without SIGN_PFX the package is unsigned, and the script says
# so.
#
# The password of SIGN_PFX is handed to the signer on its standard input (scripts/sign.sh).
#
# RELEASE_DIR overrides the output folder (default build/release).
# RELEASE_BUILD_ROOT builds in the presets' folders below it (<root>/windows,
#   <root>/windows64, <root>/preview) and keeps them, so that what a preset has built
#   already is not built again; without it the build folders are the script's own, below
#   RELEASE_DIR, and removed on every exit.
# RELEASE_FROM packs a copy of a package folder this script built before, unsigned,
#   instead of building one: signs it when asked, then writes its checksums and ZIP.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

[ "${RELEASE_SKIP_SETUP:-}" = 1 ] || bash scripts/setup.sh >&2

version=$(sed -n 's/^project(AdapterTools VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
name="AdapterTools-$version"
out=${RELEASE_DIR:-$root/build/release}
mkdir -p "$out"
out=$(cd "$out" && pwd)
package="$out/$name"
rm -rf "$package" "$package.zip"

if [ -n "${RELEASE_FROM:-}" ]; then
  from=$(cd "$RELEASE_FROM" && pwd)
  [ "$from" != "$package" ] || { echo "release: RELEASE_FROM is the output folder itself" >&2; exit 1; }
  echo "release: packing a copy of $from"
  cp -a "$from" "$package"
else
  if [ -n "${RELEASE_BUILD_ROOT:-}" ]; then
    mkdir -p "$RELEASE_BUILD_ROOT"
    build=$(cd "$RELEASE_BUILD_ROOT" && pwd)
  else
    build="$out/build"
    rm -rf "$build"
    trap 'rm -rf "$build"' EXIT
  fi
  echo "release: building $name in $build"
  # The install rules put the 32-bit programs, the guide and the notice at the package's
  # top, the 64-bit programs in x64/ and both builds of pakrun-preview, with its manual, in
  # tools/.
  for preset in windows windows64 preview; do
    case $preset in
      windows) targets=(Airtoggle Pakrun Scrubnet Quitpanel pakrun_preview_windows) ;;
      windows64) targets=(Airtoggle Pakrun Scrubnet Quitpanel) ;;
      preview) targets=(pakrun-preview) ;;
    esac
    cmake --preset "$preset" -B "$build/$preset" >/dev/null
    cmake --build "$build/$preset" -j"$(nproc)" --target "${targets[@]}" >/dev/null
    cmake --install "$build/$preset" --prefix "$package" --component release >/dev/null
  done
fi

programs=(Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe)
executables=()
for program in "${programs[@]}"; do executables+=("$program" "x64/$program"); done
executables+=(tools/pakrun-preview.exe)
for program in "${executables[@]}" tools/linux-x86_64/pakrun-preview tools/pakrun-preview.md; do
  [ -f "$package/$program" ] || { echo "release: $program was not built" >&2; exit 1; }
done

if [ -n "${SIGN_PFX:-}" ]; then
  [ -f "$SIGN_PFX" ] || { echo "release: SIGN_PFX names no file: $SIGN_PFX" >&2; exit 1; }
  said=$(pfx=$(realpath "$SIGN_PFX") && cd "$package" &&
         SIGN_PFX=$pfx bash "$root/scripts/sign.sh" "${executables[@]}")
  echo "release: $said"
else
  echo "release: UNSIGNED (set SIGN_PFX and SIGN_PASSWORD to sign the executables)"
fi

# Every file of the package, those in x64/ too, by its path below the package folder.
(cd "$package" && find . -type f ! -path ./SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   xargs sha256sum > SHA256SUMS)

# The date of every ZIP entry: SOURCE_DATE_EPOCH where the caller names one (as for a tree
# copied without its Git history), else the last commit's.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 946684800)}
python3 - "$package" "$package.zip" "$epoch" <<'PY'
import os, sys, time, zipfile
folder, target, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
# ZIP dates are local DOS dates from 1980 on; the same date for every entry.
stamp = time.gmtime(max(epoch, 315532800))[:6]
base = os.path.basename(folder)
# Every file below the folder, in the order of its path (with forward slashes).
names = sorted(os.path.relpath(os.path.join(top, name), folder).replace(os.sep, "/")
               for top, _, files in os.walk(folder) for name in files)
with zipfile.ZipFile(target, "w") as archive:
    for name in names:
        info = zipfile.ZipInfo(f"{base}/{name}", date_time=stamp)
        info.create_system = 3
        # The Linux program keeps its execute permission when unpacked.
        executable = os.access(os.path.join(folder, name), os.X_OK) and not name.endswith(".exe")
        info.external_attr = (0o755 if executable else 0o644) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(folder, name), "rb") as source:
            archive.writestr(info, source.read(), compresslevel=9)
PY
echo "release: $package.zip"
(cd "$package" && cat SHA256SUMS)
