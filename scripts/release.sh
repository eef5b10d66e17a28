#!/usr/bin/env bash
# Builds the release package from the sources in this tree, in a build folder of its own:
#   build/release/<name>-<version>/      Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe
#                                        package-authors-guide.md NOTICE SHA256SUMS
#   build/release/<name>-<version>.zip   the same folder, zipped
# The version is the project's, named once in the top CMakeLists.txt. Two runs on the same
# sources give the same bytes: the executables carry no time stamp or build path, and the
# ZIP holds its entries in name order with one fixed date (the last commit's, when the tree
# is a Git checkout).
#
# Signing (optional): with SIGN_PFX (a PKCS#12 file) and SIGN_PASSWORD set, each
# executable is signed with osslsigncode before the checksums are made, and time-stamped
# by the RFC 3161 server SIGN_TIMESTAMP_URL when one is named. Without SIGN_PFX the
# package is unsigned, and the script says so.
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
cmake -S "$root" -B "$build" -G "Unix Makefiles" --toolchain "$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target Airtoggle Pakrun Scrubnet Quitpanel >/dev/null
cmake --install "$build" --prefix "$package" --component release >/dev/null

programs=(Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe)
for program in "${programs[@]}"; do
  [ -f "$package/$program" ] || { echo "release: $program was not built" >&2; exit 1; }
done

if [ -n "${SIGN_PFX:-}" ]; then
  [ -f "$SIGN_PFX" ] || { echo "release: SIGN_PFX names no file: $SIGN_PFX" >&2; exit 1; }
  stamp=()
  if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then stamp=(-ts "$SIGN_TIMESTAMP_URL"); fi
  for program in "${programs[@]}"; do
    osslsigncode sign -pkcs12 "$SIGN_PFX" -pass "${SIGN_PASSWORD:-}" -h sha256 \
      -n "${program%.exe}" "${stamp[@]}" \
      -in "$package/$program" -out "$package/$program.signed" >/dev/null
    mv "$package/$program.signed" "$package/$program"
  done
  if [ ${#stamp[@]} -gt 0 ]; then
    echo "release: signed with $SIGN_PFX, time-stamped by $SIGN_TIMESTAMP_URL"
  else
    echo "release: signed with $SIGN_PFX, not time-stamped (no SIGN_TIMESTAMP_URL)"
  fi
else
  echo "release: UNSIGNED (set SIGN_PFX and SIGN_PASSWORD to sign the executables)"
fi

(cd "$package" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
   xargs sha256sum > SHA256SUMS)

epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 946684800)
python3 - "$package" "$package.zip" "$epoch" <<'PY'
import os, sys, time, zipfile
folder, target, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
# ZIP dates are local DOS dates from 1980 on; the same date for every entry.
stamp = time.gmtime(max(epoch, 315532800))[:6]
base = os.path.basename(folder)
with zipfile.ZipFile(target, "w") as archive:
    for name in sorted(os.listdir(folder)):
        info = zipfile.ZipInfo(f"{base}/{name}", date_time=stamp)
        info.create_system = 3
        info.external_attr = 0o644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(folder, name), "rb") as source:
            archive.writestr(info, source.read(), compresslevel=9)
PY
rm -rf "$build"
echo "release: $package.zip"
(cd "$package" && cat SHA256SUMS)
