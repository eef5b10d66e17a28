#!/usr/bin/env bash
# The preview's benchmark (not a test: nothing here passes or fails on a figure). Prints a
# Markdown report on stdout:
#   1. pakrun-preview on a settings file of 5 MB whose lists have 1000 entries each
#      (STATICREG ADDREG and DELREG, CLEANUP, REFRESH, DRIVERREG), behind 4 MB of comment
#      lines that every lookup would pass if the file were scanned per key;
#   2. pakrun-preview --windows all on the test case with every step on;
#   3. the executions per second of the fuzz targets that run Pakrun on the substitute
#      machine (pakrun_settings, pakrun_devices), over their checked-in seeds, for a fixed
#      time (fixed seed; the corpus they grow is thrown away).
#
#   PREVIEW_EXE   the tool to time (default build/native/tools/pakrun-preview/pakrun-preview,
#                 built with the native preset if missing)
#   FUZZ_DIR      the fuzz preset's build folder (default build/fuzz, built if missing)
#   FUZZ_SECONDS  seconds per fuzz target (default 30)
#
# Figures taken while the machine is busy are noisy: the load average is printed with them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
exe=${PREVIEW_EXE:-build/native/tools/pakrun-preview/pakrun-preview}
fuzz_dir=${FUZZ_DIR:-build/fuzz}
seconds=${FUZZ_SECONDS:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -x $exe ]]; then
  cmake --preset native >&2 && cmake --build --preset native --target pakrun-preview >&2
fi
for t in pakrun_settings pakrun_devices; do
  if [[ ! -x $fuzz_dir/tests/fuzz/fuzz_$t ]]; then
    cmake --preset fuzz >&2 && cmake --build "$fuzz_dir" --target "fuzz_$t" >&2
  fi
done

python3 - "$work/large.ini" <<'EOF'
import sys
pad = "; " + "x" * 100
lines = ["[PARAMS]", "STATICREG=1", "DRIVERREG=1", "CLEANUP=1", "REFRESH=1", "", "[NOTES]"]
size = sum(len(l) + 2 for l in lines)
while size < 4_000_000:
    lines.append(pad)
    size += len(pad) + 2
lines += ["[STATICREG]", "ADDREG=1000", "DELREG=1000"]
for i in range(1, 1001):
    lines += [f"ADDREG{i}_ROOT=HKLM", f"ADDREG{i}_SUBKEY=SOFTWARE\\Vendor\\K{i}",
              f"ADDREG{i}_ENTRYNAME=V{i}", f"ADDREG{i}_FLAGS=0x00010001", f"ADDREG{i}_VALUE={i}",
              f"DELREG{i}_ROOT=HKLM", f"DELREG{i}_SUBKEY=SOFTWARE\\Vendor\\K{i}", f"DELREG{i}_ENTRYNAME=Old{i}"]
ids = [f"PCI\\VEN_1D4A&DEV_{i:04X}" for i in range(1, 1001)]
lines += ["[CLEANUP]", "CLEANCOUNT=1000"] + [f"DEV{i}={d}" for i, d in enumerate(ids, 1)]
lines += ["[REFRESH]", "DETECTCOUNT=1000"] + [f"DETECTDEV{i}={d}" for i, d in enumerate(ids, 1)]
lines += ["[DRIVERREG]", "NIC=1000"] + [f"DEV{i}={d}" for i, d in enumerate(ids, 1)]
text = "\r\n".join(lines) + "\r\n"
text += (pad + "\r\n") * ((5_000_000 - len(text)) // (len(pad) + 2) + 1)
open(sys.argv[1], "w", newline="").write(text)
EOF

# Seconds of wall time for one run of a command, output thrown away.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

read -r load_before _ < /proc/loadavg
large=$(timed "$exe" "$work/large.ini")
full=$(timed "$exe" tools/pakrun-preview/tests/cases/full.ini --windows all)
declare -A rate
for t in pakrun_settings pakrun_devices; do
  mkdir -p "$work/corpus_$t"
  rate[$t]=$("$fuzz_dir/tests/fuzz/fuzz_$t" -seed=1 -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 -dict="tests/fuzz/$t.dict" \
      "$work/corpus_$t" "tests/fuzz/corpus/$t" 2>&1 | sed -n 's/^stat::average_exec_per_sec: *//p')
done
read -r load_after _ < /proc/loadavg

cat <<EOF
## pakrun-preview benchmark

- taken: $(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores; load average (1 min) before / after: $load_before / $load_after
- tool: $exe

| what | figure |
|---|---:|
| 5 MB settings file, lists of 1000 entries, one version (s) | $large |
| \`tests/cases/full.ini --windows all\` (s) | $full |
| fuzz_pakrun_settings, ${seconds} s (exec/s) | ${rate[pakrun_settings]} |
| fuzz_pakrun_devices, ${seconds} s (exec/s) | ${rate[pakrun_devices]} |
EOF
