#!/usr/bin/env bash
# The LZX figures, on the x86_64 DLLs of Debian's Wine (545 files, about
# 608 MB), run under scripts/with-wine.sh (bench/run-bench.sh runs it):
#   lzx_size_ratio_vs_mszip: the LZX payload cabinet's size over the MSZIP one's;
#   lzx_pack_mb_per_s: payload MB (10^6 bytes) per second of `quarrypack
#     create --compression lzx` (both cores);
#   lzx_extract_ratio_vs_mszip: a silent run of the LZX package over one of
#     the MSZIP package, interleaved PAIRS times, the median of the ratios.
# Usage: lzx-bench.sh STUB QUARRYPACK WORK [PAIRS]
set -euo pipefail
stub=$1 pack=$2 work=$3 pairs=${4:-5}
dlls=${QUARRY_BENCH_DLLS:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
now() { date +%s.%N; }
calc() { echo "scale=6; $*" | bc -l; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

rm -rf "$work"
mkdir -p "$work/dlls"
# The payload links to the DLLs (packing follows links to files).
ln -s "$dlls"/*.dll "$work/dlls/"
printf '[Package]\r\nProductName=Bench\r\n' > "$work/Settings.ini"
pack_one() {  # kind -> prints the cabinet's size
  "$pack" create --stub "$stub" --settings "$work/Settings.ini" --payload "$work/dlls" \
    --compression "$1" -o "$work/$1.exe" | sed -n 's/.* in a cabinet of \([0-9]*\) bytes.*/\1/p'
}
mszip_bytes=$(pack_one mszip)
t0=$(now)
lzx_bytes=$(pack_one lzx)
t1=$(now)
payload_bytes=$(cat "$work"/dlls/*.dll | wc -c)
pack_seconds=$(calc "$t1 - $t0")

# A package with nothing to run ends with 0; anything else is a failed run.
silent() {
  local t0 t1 rc=0
  t0=$(now)
  wine "$work/$1.exe" -s >/dev/null 2>&1 || rc=$?
  t1=$(now)
  [ "$rc" = 0 ] || { echo "$1.exe -s ended with $rc, not 0" >&2; exit 1; }
  calc "$t1 - $t0"
}
silent mszip >/dev/null  # the first start under a fresh wineserver loads the program
ratios=() lzx_times=() mszip_times=()
for _ in $(seq 1 "$pairs"); do
  m=$(silent mszip)
  l=$(silent lzx)
  mszip_times+=("$m") lzx_times+=("$l")
  ratios+=("$(calc "$l / $m")")
done
rm -rf "$work"

echo "lzx_payload_bytes: $payload_bytes"
echo "lzx_cabinet_bytes: $lzx_bytes"
echo "mszip_cabinet_bytes: $mszip_bytes"
echo "lzx_pack_seconds: $pack_seconds"
echo "lzx_silent_run_seconds: $(printf '%s\n' "${lzx_times[@]}" | median)"
echo "mszip_silent_run_seconds: $(printf '%s\n' "${mszip_times[@]}" | median)"
echo "lzx_size_ratio_vs_mszip: $(echo "scale=3; $lzx_bytes / $mszip_bytes" | bc -l)"
echo "lzx_pack_mb_per_s: $(echo "scale=2; $payload_bytes / 1000000 / $pack_seconds" | bc -l)"
echo "lzx_extract_ratio_vs_mszip: $(echo "scale=3; $(printf '%s\n' "${ratios[@]}" | median) / 1" | bc -l)"
