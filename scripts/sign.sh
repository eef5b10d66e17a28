#!/usr/bin/env bash
# Signs Windows executables in place, as the release does: an Authenticode signature with
# a SHA-1 digest, the only one that Windows 2000 and XP up to SP2 read, with a SHA-256
# signature nested in it for later systems; both time-stamped by the RFC 3161 server
# SIGN_TIMESTAMP_URL when one is named. Prints what it did.
# The password reaches osslsigncode on its standard input (-readpass /dev/stdin: a
# pipe, no file on disk; older releases than 2.9 do not take "-" for it), never on a command
# line, where every local user could read it in the process list while the files are signed.
# Usage: SIGN_PFX=<PKCS#12 file> SIGN_PASSWORD=<password> [SIGN_TIMESTAMP_URL=<url>] sign.sh FILE...
set -euo pipefail
[ -n "${SIGN_PFX:-}" ] && [ -f "$SIGN_PFX" ] || { echo "sign: SIGN_PFX names no file: ${SIGN_PFX:-}" >&2; exit 1; }
stamp=()
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then stamp=(-ts "$SIGN_TIMESTAMP_URL"); fi
# A key file without a password is opened without one (osslsigncode reads nothing from an
# empty standard input).
password=()
if [ -n "${SIGN_PASSWORD:-}" ]; then password=(-readpass /dev/stdin); fi
# Half-signed files of an interrupted run are not left beside the originals.
pending=()
trap 'rm -f "${pending[@]}"' EXIT
# osslsigncode sign <options...>, the password (if any) on its standard input; printf is
# the shell's own, so the password appears in no process's arguments.
sign() {
  printf '%s' "${SIGN_PASSWORD:-}" | osslsigncode sign -pkcs12 "$SIGN_PFX" "${password[@]}" "$@" >/dev/null
}
for file in "$@"; do
  description=$(basename "$file" .exe)
  pending=("$file.sha1" "$file.signed")
  sign -h sha1 -n "$description" "${stamp[@]}" -in "$file" -out "$file.sha1"
  sign -nest -h sha256 -n "$description" "${stamp[@]}" -in "$file.sha1" -out "$file.signed"
  rm "$file.sha1"
  mv "$file.signed" "$file"
done
pending=()
if [ ${#stamp[@]} -gt 0 ]; then
  echo "signed with $SIGN_PFX (SHA-1, SHA-256 nested), time-stamped by $SIGN_TIMESTAMP_URL"
else
  echo "signed with $SIGN_PFX (SHA-1, SHA-256 nested), not time-stamped: the" \
       "signatures are valid only while the certificate is (no SIGN_TIMESTAMP_URL)"
fi
