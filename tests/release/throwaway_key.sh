#!/usr/bin/env bash
# Makes a throwaway self-signed code-signing certificate for the signing tests:
# <folder>/cert.pem and <folder>/signing.pfx, whose password is "throwaway".
# Usage: throwaway_key.sh <folder>
set -euo pipefail
keys=$1
rm -rf "$keys"
mkdir -p "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Throwaway code signing" -days 2 \
  -addext "extendedKeyUsage=codeSigning" \
  -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
# The password from the environment: not on a command line, as the release hands it over.
THROWAWAY_PASSWORD=throwaway openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" \
  -out "$keys/signing.pfx" -passout env:THROWAWAY_PASSWORD
