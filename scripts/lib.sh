# shellcheck shell=bash
# Helpers the scripts share; sourced, not run.

# Whether the kernel starts 32-bit (i386) programs at all: some machines of this kind boot
# with 32-bit emulation off, and there nothing 32-bit runs, Wine's loader included. Told
# by starting the smallest i386 program there is (one ELF header, one segment, three
# instructions: exit(0) through int 0x80), written to a private temporary file.
# Returns 0 where it runs; 1 where the kernel refuses it ("Exec format error"); 2 where
# that cannot be told (a temporary folder mounted noexec, say): the Wine loader decides.
# What the kernel said is in `kernel_said`.
kernel_runs_i386() {
  local probe status
  probe=$(mktemp) || { kernel_said="no temporary file"; return 2; }
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod 700 "$probe"
  kernel_said=$("$probe" 2>&1) && status=0 || status=$?
  rm -f "$probe"
  # The shell words it "<script>: line N: <file>: cannot execute binary file: <why>".
  kernel_said=$(tr '\n' ' ' <<<"${kernel_said:-exit status $status}")
  kernel_said=${kernel_said##*: }
  if [ "$status" -eq 0 ]; then return 0; fi
  if [[ $kernel_said == "Exec format error"* ]]; then return 1; fi
  return 2
}

# Whether this machine runs 32-bit Windows programs: the kernel must start i386 programs,
# and the 32-bit Wine loader must then start (it may be missing, or fail on its own).
# Returns 0 where it starts; otherwise 1, with the reason in one line in `why_no_32bit`.
# shellcheck disable=SC2034  # why_no_32bit is read by the scripts that source this one
runs_32bit() {
  local said kernel=0
  kernel_runs_i386 || kernel=$?
  if [ "$kernel" -eq 1 ]; then
    why_no_32bit="the kernel does not start 32-bit programs (${kernel_said% })"
    return 1
  fi
  if [ ! -e /usr/lib/wine/wine ]; then
    why_no_32bit="the 32-bit Wine loader (wine32) is not installed: scripts/setup.sh could not install it and says why"
    return 1
  fi
  if said=$(timeout 60 /usr/lib/wine/wine --version 2>&1 >/dev/null); then
    why_no_32bit=
    return 0
  fi
  said=$(tr '\n' ' ' <<<"${said:-}")
  said=${said% }
  why_no_32bit="the 32-bit Wine loader cannot start here (${said:-/usr/lib/wine/wine does not start})"
  return 1
}
