#!/usr/bin/env bash
# Checks scripts/release.sh from the outside:
#   package       builds the release of the tree itself, unsigned, into <work>/package (the
#                 fixture the other two checks read); with a build root, in the presets'
#                 folders below it, so that what the suites build is not built twice
#   reproducible  a second release, of a copy of the tree in another folder and built
#                 later, is the same bytes as the package: executables of both machines and
#                 ZIP; the package holds exactly the shipped files (the 32-bit programs at
#                 its top, the 64-bit ones in x64/), and its SHA256SUMS hold for every one
#   signed        the release script signs a copy of the package with a throwaway
#                 self-signed certificate: every executable carries a SHA-1 signature with
#                 a SHA-256 one nested in it, both verify against it, the checksums are of
#                 the signed files, the version resources are those of the unsigned files,
#                 and while it signed no process's command line held the password
# Usage: release_test.sh package|reproducible|signed <source tree> <work folder>
#                        <windres i686> <windres x86_64> [<build root>]
set -euo pipefail
check=$1
source=$(cd "$2" && pwd)
work=$3
windres32=$4
windres64=$5
build_root=${6:-}
mkdir -p "$work"
work=$(cd "$work" && pwd)
programs=(Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe
          x64/Svcpilot.exe x64/Pakrun.exe x64/Scrubnet.exe x64/Quitpanel.exe tools/pakrun-preview.exe)
linux_preview=tools/linux-x86_64/pakrun-preview
contents="NOTICE Pakrun.exe Quitpanel.exe SHA256SUMS Scrubnet.exe Svcpilot.exe package-authors-guide.md"
contents+=" $linux_preview tools/pakrun-preview.exe tools/pakrun-preview.md"
contents+=" x64/Pakrun.exe x64/Quitpanel.exe x64/Scrubnet.exe x64/Svcpilot.exe"
# The files of a package folder by their paths below it, in name order.
files_of() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' '); }
windres_for() { case "$1" in x64/*) echo "$windres64" ;; *) echo "$windres32" ;; esac; }

fail() { echo "release_test: $*" >&2; exit 1; }

# A copy of the tree without its build folders and Git history, built as a release into
# <folder>/out; its ZIP dates are those of the tree's last commit, as the release script
# takes them in the tree itself.
release_from_copy() {
  local folder=$1 epoch
  epoch=$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 946684800)
  rm -rf "$folder"
  mkdir -p "$folder/tree"
  (cd "$source" && tar --exclude=./build --exclude=./.git -cf - .) | tar -xf - -C "$folder/tree"
  SOURCE_DATE_EPOCH=$epoch RELEASE_SKIP_SETUP=1 RELEASE_DIR="$folder/out" \
    bash "$folder/tree/scripts/release.sh"
}

package_of() { ls -d "$1"/out/AdapterTools-*/ | head -n 1; }

case "$check" in
  package)
    rm -rf "$work/package"
    said=$(RELEASE_SKIP_SETUP=1 RELEASE_DIR="$work/package/out" RELEASE_BUILD_ROOT="$build_root" \
           bash "$source/scripts/release.sh")
    grep -q "UNSIGNED" <<<"$said" || fail "an unsigned release does not say so: $said"
    echo "release_test: built $(package_of "$work/package")"
    ;;
  reproducible)
    a=$(package_of "$work/package")
    second=$(release_from_copy "$work/reproducible/at/another/depth")
    grep -q "UNSIGNED" <<<"$second" || fail "an unsigned release does not say so: $second"
    b=$(package_of "$work/reproducible/at/another/depth")
    for program in "${programs[@]}" "$linux_preview"; do
      cmp "$a/$program" "$b/$program" || fail "$program differs between two builds"
    done
    cmp "${a%/}.zip" "${b%/}.zip" || fail "the ZIP differs between two builds"
    [ "$(files_of "$a")" = "$contents " ] || fail "the package holds $(files_of "$a"), not $contents"
    (cd "$a" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS do not hold"
    # Every file but the sums themselves is listed, by its path as sha256sum prints it.
    [ "$(awk '{print $2}' "$a/SHA256SUMS" | tr '\n' ' ')" = "$(sed 's/ SHA256SUMS / /' <<<"$contents ")" ] ||
      fail "SHA256SUMS list $(awk '{print $2}' "$a/SHA256SUMS" | tr '\n' ' ')"
    for program in "${programs[@]}"; do
      case "$program" in
        x64/*) format="pei-x86-64" ;;
        *) format="pei-i386" ;;
      esac
      windres=$(windres_for "$program")
      "${windres%windres}objdump" -f "$a/$program" | grep -q "file format $format" ||
        fail "$program is not $format"
    done
    listed=$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "${a%/}.zip")
    expected=$(for f in $contents; do printf '%s ' "$(basename "$a")/$f"; done)
    [ "$listed " = "$expected" ] || fail "the ZIP holds $listed"
    for program in "${programs[@]}" "$linux_preview"; do
      if grep -qa -e "$source" -e "$work" "$a/$program"; then fail "$program names a build path"; fi
    done
    # The Linux preview: an x86-64 program without sanitizers that needs nothing of the
    # machine but its C library, and runs as unpacked from the ZIP (its execute permission
    # kept, and only its).
    file "$a/$linux_preview" | grep -q "ELF 64-bit LSB .*x86-64.*stripped" ||
      fail "$linux_preview is not a stripped x86-64 program: $(file "$a/$linux_preview")"
    needed=$(objdump -p "$a/$linux_preview" | awk '$1 == "NEEDED" {print $2}' | LC_ALL=C sort | tr '\n' ' ')
    [ "$needed" = "ld-linux-x86-64.so.2 libc.so.6 libgcc_s.so.1 " ] || fail "$linux_preview needs $needed"
    # It runs with the C library of Debian 12, Ubuntu 22.04 and RHEL 9 (glibc 2.34).
    newest=$(objdump -T "$a/$linux_preview" | grep -o 'GLIBC_[0-9.]*' | sort -V | tail -n 1)
    [ "$(printf '%s\n' "$newest" GLIBC_2.34 | sort -V | tail -n 1)" = GLIBC_2.34 ] ||
      fail "$linux_preview needs $newest, newer than glibc 2.34"
    if grep -qa "AddressSanitizer" "$a/$linux_preview"; then fail "$linux_preview is built with sanitizers"; fi
    rm -rf "$work/unzipped"
    python3 - "${a%/}.zip" "$work/unzipped" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    for info in archive.infolist():
        os.chmod(archive.extract(info, sys.argv[2]), info.external_attr >> 16 & 0o777)
PY
    unpacked="$work/unzipped/$(basename "$a")"
    "$unpacked/$linux_preview" --help | grep -q "pakrun-preview" || fail "the unpacked $linux_preview does not run"
    executables=$(cd "$unpacked" && find . -type f -perm -u+x | sed 's|^\./||')
    [ "$executables" = "$linux_preview" ] || fail "executable in the ZIP: $executables"
    echo "release_test: two builds are identical: $(cd "$a" && sha256sum "${programs[@]}" | tr '\n' ' ')"
    ;;
  signed)
    plain=$(package_of "$work/package")
    work="$work/signed"
    rm -rf "$work"
    mkdir -p "$work/watch"
    keys="$work/keys"
    bash "$(dirname "$0")/throwaway_key.sh" "$keys"
    # osslsigncode, as the release finds it on the PATH, is this stand-in: it looks through
    # every process's command line, its own (the signer's arguments) and its callers'
    # among them, for the password, then hands over to the real one.
    cat >"$work/watch/osslsigncode" <<'EOF'
#!/usr/bin/env bash
echo call >>"$WATCH_CALLS"
for file in /proc/[0-9]*/cmdline; do
  mapfile -d '' words 2>/dev/null <"$file" || continue
  [[ "${words[*]}" != *"$WATCH_PASSWORD"* ]] || echo "${file%/cmdline}: ${words[*]}" >>"$WATCH_SEEN"
done
exec "$WATCH_REAL" "$@"
EOF
    chmod +x "$work/watch/osslsigncode"
    real=$(command -v osslsigncode)
    said=$(PATH="$work/watch:$PATH" WATCH_REAL=$real WATCH_PASSWORD=throwaway \
           WATCH_CALLS="$work/calls" WATCH_SEEN="$work/seen" \
           RELEASE_SKIP_SETUP=1 RELEASE_FROM="$plain" RELEASE_DIR="$work/out" \
           SIGN_PFX="$keys/signing.pfx" SIGN_PASSWORD=throwaway bash "$source/scripts/release.sh")
    grep -q "signed with" <<<"$said" || fail "the signed release does not say so: $said"
    [ "$(wc -l <"$work/calls")" = $((2 * ${#programs[@]})) ] ||
      fail "osslsigncode ran $(wc -l <"$work/calls") times, not twice for each of ${#programs[@]} files"
    [ ! -s "$work/seen" ] || fail "the password was on a command line while signing: $(cat "$work/seen")"
    signed=$(package_of "$work")
    # The signed package holds the same files, nothing left over from signing.
    [ "$(files_of "$signed")" = "$contents " ] || fail "the signed package holds $(files_of "$signed")"
    for program in "${programs[@]}"; do
      osslsigncode verify -CAfile "$keys/cert.pem" -in "$signed/$program" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "the signature of $program does not verify"; }
      if osslsigncode verify -CAfile "$keys/cert.pem" -in "$plain/$program" >/dev/null 2>&1; then
        fail "the unsigned $program verifies"
      fi
      cmp -s "$plain/$program" "$signed/$program" && fail "$program was not changed by signing"
      # One signature of each digest, the SHA-1 one first (the primary, the only one older
      # systems read) and each verified.
      digests=$(sed -n 's/^Message digest algorithm  *: //p' "$work/verify.log" | tr '\n' ' ')
      [ "$digests" = "SHA1 SHA256 " ] || { cat "$work/verify.log" >&2; fail "$program is signed with $digests, not SHA1 SHA256"; }
      [ "$(grep -c '^Signature verification: ok' "$work/verify.log")" = 2 ] &&
        grep -q '^Number of verified signatures: 2' "$work/verify.log" ||
        { cat "$work/verify.log" >&2; fail "the two signatures of $program do not both verify"; }
      # The resources, the version resource and the manifest among them, are unchanged.
      windres=$(windres_for "$program")
      "$windres" -i "$plain/$program" -O rc -o "$work/plain.rc"
      "$windres" -i "$signed/$program" -O rc -o "$work/signed.rc"
      grep -q "VALUE \"OriginalFilename\", \"$(basename "$program")\"" "$work/signed.rc" ||
        fail "the signed $program has no version resource of its own"
      cmp "$work/plain.rc" "$work/signed.rc" || fail "signing changed the resources of $program"
      rm -f "$work/plain.rc" "$work/signed.rc"
    done
    (cd "$signed" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS are not of the signed files"
    echo "release_test: signed and verified: ${programs[*]}"
    ;;
  *) fail "unknown check $check" ;;
esac
