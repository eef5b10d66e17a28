#!/usr/bin/env bash
# The benchmark (not a test: nothing here passes or fails on a figure). Builds what it
# needs, makes a throwaway Wine prefix, and prints on stdout a Markdown report the README
# can carry (progress goes to stderr):
#   1. each shipped executable's stripped size and the DLLs it imports, at load time and
#      delayed;
#   2. Svcpilot.exe -installer against the stand-in service's own stop and start;
#   3. Quitpanel.exe against taskkill, ending Linkdesk.exe and Svcpilot.exe among 50
#      other processes;
#   4. Pakrun.exe's static section of 25 to 400 entries against the INF installer called
#      directly on the same INF text.
# Parts 2 to 4 are timed inside the prefix by the test bed's bench.exe (testbed/bench.cpp),
# with QueryPerformanceCounter: from the shell, every poll of a service's state and every
# look at the registry between runs would be one more Wine process (sc, reg), each start
# costing tens of milliseconds, as much as some of the runs being measured.
#
# Where the kernel runs 32-bit programs (the 32-bit loader starts), the shipped files of
# build/windows/bin run in a 32-bit prefix made as the wine32 suite makes it; elsewhere the
# x86_64 rebuilds of the wine preset run in a 64-bit prefix, and the report says so.
#
# Figures taken while the machine is busy are noisy: run it on a quiet machine.
#
#   BENCH_BUILD_ROOT   build folders (default build/, the presets' own folders)
#   BENCH_SKIP_SETUP=1 do not run scripts/setup.sh first
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
began=$(date +%s)

say() { echo "bench: $*" >&2; }

[ "${BENCH_SKIP_SETUP:-}" = 1 ] || timeout 1800 bash scripts/setup.sh >&2

build_root=${BENCH_BUILD_ROOT:-$root/build}
mkdir -p "$build_root"
build_root=$(cd "$build_root" && pwd)
windows_dir=$build_root/windows

# Configures a preset into its folder below the build root (the preset's own folder by
# default) and builds the targets named.
build() {
  local preset=$1 dir=$2
  shift 2
  local extra=()
  if [ "$build_root" != "$root/build" ]; then
    extra=(-B "$dir")
    [ "$preset" = wine32 ] && extra+=("-DTOOLS_SHIPPED_DIR=$windows_dir/bin")
  fi
  say "building $* ($preset, $dir)"
  timeout 900 cmake --preset "$preset" "${extra[@]}" >"$build_root/bench-$preset.log" 2>&1 ||
    { cat "$build_root/bench-$preset.log" >&2; say "configuring $preset failed"; exit 1; }
  timeout 3600 cmake --build "$dir" -j2 --target "$@" >>"$build_root/bench-$preset.log" 2>&1 ||
    { tail -50 "$build_root/bench-$preset.log" >&2; say "building $preset failed"; exit 1; }
}

# How the report names a folder: below the tree, relative to it.
shown() { case $1 in "$root"/*) echo "${1#"$root"/}" ;; *) echo "$1" ;; esac; }

build windows "$windows_dir" Airtoggle Pakrun Scrubnet Quitpanel pakrun_preview_windows
programs=(Svcpilot.exe Pakrun.exe Scrubnet.exe Quitpanel.exe tools/pakrun-preview.exe)
for program in "${programs[@]}"; do
  [ -f "$windows_dir/bin/$program" ] || { say "$program was not built"; exit 1; }
done

source scripts/lib.sh
if runs_32bit; then
  arch=win32
  preset=wine32
  prefix_kind="32-bit (WINEARCH=win32, the 32-bit loader /usr/lib/wine/wine)"
  timed_files="the shipped i686 files of $(shown "$windows_dir/bin"), byte for byte"
  wine_version=$(timeout 60 /usr/lib/wine/wine --version 2>/dev/null || echo unknown)
else
  arch=win64
  preset=wine
  prefix_kind="64-bit (WINEARCH=win64, /usr/lib/wine/wine64): $why_no_32bit"
  timed_files="the x86_64 rebuilds of $(shown "$build_root/wine/bin"), NOT the shipped i686 files"
  wine_version=$(timeout 60 /usr/lib/wine/wine64 --version 2>/dev/null || echo unknown)
fi
bed_dir=$build_root/$preset
build "$preset" "$bed_dir" bench

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- 1. sizes and imports, read from the files -------------------------------------------
sizes=$(timeout 300 python3 - "$windows_dir/bin" "${programs[@]}" <<'PY'
import os, re, shutil, subprocess, sys, tempfile
sys.dont_write_bytecode = True
sys.path.insert(0, "tests/artifacts")
from check_exe import PeImage, imported_functions, delay_imported_functions  # the artifact check's readers

objdump, strip = "i686-w64-mingw32-objdump", "i686-w64-mingw32-strip"
folder, names = sys.argv[1], sys.argv[2:]

def listed(pairs):
    counts = {}
    for dll, _ in pairs:
        counts[dll] = counts.get(dll, 0) + 1
    return ", ".join(f"{dll} ({n})" for dll, n in sorted(counts.items())) or "none"

print("| file | bytes | stripped bytes | imported at load time (functions) | delayed (functions) |")
print("|---|---:|---:|---|---|")
with tempfile.TemporaryDirectory() as scratch:
    for name in names:
        path = os.path.join(folder, name)
        copy = os.path.join(scratch, os.path.basename(name))
        shutil.copyfile(path, copy)
        subprocess.run([strip, copy], check=True, timeout=60)
        dump = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True,
                              timeout=60).stdout
        delayed, problems, _ = delay_imported_functions(PeImage(path))
        note = f" ({'; '.join(problems)})" if problems else ""
        print(f"| `{name}` | {os.path.getsize(path)} | {os.path.getsize(copy)} | "
              f"{listed(imported_functions(dump))} | {listed(delayed)}{note} |")
PY
)

# ---- 2 to 4. the timed runs, inside a throwaway prefix ------------------------------------
export TOOLS_WINE_ARCH=$arch
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/adapter-bench.XXXXXX)
trap 'timeout 60 tests/wine/prefix-teardown.sh >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$WINEPREFIX.log"' EXIT
say "making the prefix $WINEPREFIX"
timeout 300 tests/wine/prefix-setup.sh >&2
if [ "$arch" = win32 ]; then
  # Wine's drive Z: is the Unix root; the test bed copies the shipped programs from here.
  shipped="Z:$windows_dir/bin"
  export TOOLS_SHIPPED_DIR=${shipped//\//\\}
else
  unset TOOLS_SHIPPED_DIR
fi
say "timing (a few minutes)"
status=0
timed=$(timeout 1800 tests/wine/in-prefix.sh "$bed_dir/bin/bench.exe" 2>&1 | tr -d '\r') || status=$?
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
ended=$(date +%s)

cat <<EOF
## Benchmark

- taken: $(date -u '+%Y-%m-%d %H:%M UTC') by \`scripts/bench.sh\`
- machine: $(nproc) cores, ${cpu:-CPU model unknown}, $(uname -sr)
- Wine: ${wine_version}; prefix ${prefix_kind}
- timed files: ${timed_files}
- load average (1, 5, 15 min) before and after the timed runs: ${load_before} / ${load_after};
  figures taken on a busy machine are noisy

### Shipped executables ($(shown "$windows_dir/bin"))

Stripped bytes: the size of a copy after \`i686-w64-mingw32-strip\`. Imports: the DLLs of
the import table (\`objdump -p\`) and of the delay-import directory, with the number of
functions taken from each.

${sizes}

${timed}

Whole run, builds included: $((ended - began)) s.
EOF
[ "$status" -eq 0 ] || { say "bench.exe ended with status $status: see the failed checks above"; exit 1; }
