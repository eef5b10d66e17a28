#!/usr/bin/env bash
# Checks scripts/release.sh from the outside:
#   reproducible  two releases of one tree, copied into two different folders and built a
#                 few seconds apart, are the same bytes: executables and ZIP; the package
#                 holds exactly the shipped files, and its SHA256SUMS hold
#   signed        with a throwaway self-signed certificate the executables are signed, the
#                 signatures verify against it, the checksums are of the signed files and
#                 the version resources are those of the unsigned files; the signed package
#                 is left in <work>/signed for the Wine suite to run
# Usage: release_test.sh reproducible|signed <source tree> <work folder> <windres>
set -euo pipefail
check=$1
source=$(cd "$2" && pwd)
work=$3
windres=$4
mkdir -p "$work"
work=$(cd "$work" && pwd)
programs=(Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe)
contents="NOTICE Pakrun.exe Quitpanel.exe SHA256SUMS Scrubnet.exe Svcpilot.exe package-authors-guide.md"

fail() { echo "release_test: $*" >&2; exit 1; }

# A copy of the tree without its build folders, built as a release into <folder>/out.
release_from_copy() {
  local folder=$1
  rm -rf "$folder"
  mkdir -p "$folder/tree"
  (cd "$source" && tar --exclude=./build --exclude=./.git -cf - .) | tar -xf - -C "$folder/tree"
  RELEASE_SKIP_SETUP=1 RELEASE_DIR="$folder/out" bash "$folder/tree/scripts/release.sh"
}

package_of() { ls -d "$1"/out/AdapterTools-*/ | head -n 1; }

case "$check" in
  reproducible)
    first=$(release_from_copy "$work/one")
    sleep 2
    second=$(release_from_copy "$work/two/at/another/depth")
    grep -q "UNSIGNED" <<<"$first" || fail "an unsigned release does not say so: $first"
    a=$(package_of "$work/one")
    b=$(package_of "$work/two/at/another/depth")
    for program in "${programs[@]}"; do
      cmp "$a/$program" "$b/$program" || fail "$program differs between two builds"
    done
    cmp "${a%/}.zip" "${b%/}.zip" || fail "the ZIP differs between two builds"
    [ "$(cd "$a" && ls | LC_ALL=C sort | tr '\n' ' ')" = "$contents " ] ||
      fail "the package holds $(cd "$a" && ls | tr '\n' ' '), not $contents"
    (cd "$a" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS do not hold"
    listed=$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "${a%/}.zip")
    expected=$(for f in $contents; do printf '%s ' "$(basename "$a")/$f"; done)
    [ "$listed " = "$expected" ] || fail "the ZIP holds $listed"
    for program in "${programs[@]}"; do
      if grep -qa -e "$source" -e "$work" "$a/$program"; then fail "$program names a build path"; fi
    done
    echo "release_test: two builds are identical: $(cd "$a" && sha256sum "${programs[@]}" | tr '\n' ' ')"
    ;;
  signed)
    keys="$work/keys"
    rm -rf "$keys"
    mkdir -p "$keys"
    openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Throwaway code signing" -days 2 \
      -addext "extendedKeyUsage=codeSigning" \
      -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
    openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/signing.pfx" \
      -passout pass:throwaway
    unsigned_said=$(release_from_copy "$work/unsigned")
    said=$(SIGN_PFX="$keys/signing.pfx" SIGN_PASSWORD=throwaway release_from_copy "$work/signed")
    grep -q "signed with" <<<"$said" || fail "the signed release does not say so: $said"
    grep -q "UNSIGNED" <<<"$unsigned_said" || fail "the unsigned release does not say so"
    plain=$(package_of "$work/unsigned")
    signed=$(package_of "$work/signed")
    for program in "${programs[@]}"; do
      osslsigncode verify -CAfile "$keys/cert.pem" -in "$signed/$program" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "the signature of $program does not verify"; }
      if osslsigncode verify -CAfile "$keys/cert.pem" -in "$plain/$program" >/dev/null 2>&1; then
        fail "the unsigned $program verifies"
      fi
      cmp -s "$plain/$program" "$signed/$program" && fail "$program was not changed by signing"
      # Pakrun.exe has no resources at all; what windres says of it must not change either.
      "$windres" -i "$plain/$program" -O rc -o "$work/plain.rc" 2>"$work/plain.err" || true
      "$windres" -i "$signed/$program" -O rc -o "$work/signed.rc" 2>"$work/signed.err" || true
      if [ -s "$work/plain.err" ] || [ -s "$work/signed.err" ]; then
        [ "$(sed 's|.*/||' "$work/plain.err")" = "$(sed 's|.*/||' "$work/signed.err")" ] ||
          fail "signing changed the resources of $program"
      else
        cmp "$work/plain.rc" "$work/signed.rc" || fail "signing changed the resources of $program"
      fi
      rm -f "$work/plain.rc" "$work/signed.rc"
    done
    (cd "$signed" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS are not of the signed files"
    echo "release_test: signed and verified: ${programs[*]}"
    ;;
  *) fail "unknown check $check" ;;
esac
