# shellcheck shell=bash
# Helpers the scripts share; sourced, not run.

# Whether this machine runs 32-bit programs, told by running the 32-bit Wine loader itself
# (a kernel booted without 32-bit emulation cannot start it, whatever is installed).
# Returns 0 where it starts; otherwise 1, with the reason in one line in `why_no_32bit`.
# shellcheck disable=SC2034  # why_no_32bit is read by the scripts that source this one
runs_32bit() {
  local said
  if said=$(timeout 60 /usr/lib/wine/wine --version 2>&1 >/dev/null); then
    why_no_32bit=
    return 0
  fi
  said=$(tr '\n' ' ' <<<"${said:-}")
  said=${said% }
  why_no_32bit="the 32-bit Wine loader cannot start here (${said:-/usr/lib/wine/wine does not start})"
  return 1
}
