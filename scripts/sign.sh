#!/usr/bin/env bash
# Signs Windows executables in place, as the release does: an Authenticode signature with
# a SHA-1 digest, the only one that Windows 2000 and XP up to SP2 read, with a SHA-256
# signature nested in it for later systems; both time-stamped by the RFC 3161 server
# SIGN_TIMESTAMP_URL when one is named. Prints what it did.
# Usage: SIGN_PFX=<PKCS#12 file> SIGN_PASSWORD=<password> [SIGN_TIMESTAMP_URL=<url>] sign.sh FILE...
set -euo pipefail
[ -n "${SIGN_PFX:-}" ] && [ -f "$SIGN_PFX" ] || { echo "sign: SIGN_PFX names no file: ${SIGN_PFX:-}" >&2; exit 1; }
stamp=()
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then stamp=(-ts "$SIGN_TIMESTAMP_URL"); fi
for file in "$@"; do
  description=$(basename "$file" .exe)
  osslsigncode sign -pkcs12 "$SIGN_PFX" -pass "${SIGN_PASSWORD:-}" -h sha1 \
    -n "$description" "${stamp[@]}" -in "$file" -out "$file.sha1" >/dev/null
  osslsigncode sign -pkcs12 "$SIGN_PFX" -pass "${SIGN_PASSWORD:-}" -nest -h sha256 \
    -n "$description" "${stamp[@]}" -in "$file.sha1" -out "$file.signed" >/dev/null
  rm "$file.sha1"
  mv "$file.signed" "$file"
done
if [ ${#stamp[@]} -gt 0 ]; then
  echo "signed with $SIGN_PFX (SHA-1, SHA-256 nested), time-stamped by $SIGN_TIMESTAMP_URL"
else
  echo "signed with $SIGN_PFX (SHA-1, SHA-256 nested), not time-stamped: the" \
       "signatures are valid only while the certificate is (no SIGN_TIMESTAMP_URL)"
fi
