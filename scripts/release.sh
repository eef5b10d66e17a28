#!/usr/bin/env bash
# Builds the release package from the sources in this tree, in build folders of its own
# (one per machine):
#   build/release/<name>-<version>/      Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe
#                                        (32-bit, i386), x64/ with the same four built for
#                                        x86-64, package-authors-guide.md NOTICE SHA256SUMS,
#                                        tools/ with pakrun-preview.exe (32-bit Windows
#                                        console), linux-x86_64/pakrun-preview and the
#                                        tool's manual pakrun-preview.md
#   build/release/<name>-<version>.zip   the same folder, zipped
# The version is the project's, named once in the top CMakeLists.txt. Two runs on the same
# sources give the same bytes: the executables carry no time stamp or build path, and the
# ZIP holds its entries in name order with one fixed date (the last commit's, when the tree
# is a Git checkout).
#
# Signing (optional): with SIGN_PFX (a PKCS#12 file) and SIGN_PASSWORD set, each
# executable of both machines gets an Authenticode signature with a SHA-1 digest, which
# Windows 2000 and XP up to SP2 can check, and a SHA-256 signature nested in it for later
# systems, before the checksums are made. Both are time-stamped by the RFC 3161 server
# SIGN_TIMESTAMP_URL when one is named; without one the script says that the signatures
# end with the certificate. Without SIGN_PFX the package is unsigned, and the script says
# so.
#
# RELEASE_DIR overrides the output folder (default build/release).
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
build="$out/build"
package="$out/$name"

echo "release: building $name in $build"
rm -rf "$build" "$package" "$package.zip"
# Each machine in a folder of its own; the install rules put the 32-bit programs, the
# guide and the notice at the package's top, the 64-bit programs in x64/ and the Windows
# pakrun-preview with its manual in tools/.
for machine in i686 x86_64; do
  targets=(Airtoggle Pakrun Scrubnet Quitpanel)
  [ "$machine" = i686 ] && targets+=(pakrun_preview_windows)
  cmake -S "$root" -B "$build/$machine" -G "Unix Makefiles" \
        --toolchain "$root/cmake/mingw-$machine.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/$machine" -j"$(nproc)" --target "${targets[@]}" >/dev/null
  cmake --install "$build/$machine" --prefix "$package" --component release >/dev/null
done
# pakrun-preview for Linux (x86-64), for authors' build pipelines: without sanitizers,
# static, with the build machine's own compiler.
cmake -S "$root" -B "$build/preview-linux" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
      -DTOOLS_PREVIEW_ONLY=ON -DTOOLS_SANITIZE=OFF >/dev/null
cmake --build "$build/preview-linux" -j"$(nproc)" --target pakrun-preview >/dev/null
cmake --install "$build/preview-linux" --prefix "$package" --component release >/dev/null

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

epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 946684800)
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
rm -rf "$build"
echo "release: $package.zip"
(cd "$package" && cat SHA256SUMS)
