#!/usr/bin/env bash
# Benchmarks, run under scripts/with-wine.sh by `make bench`. Where this
# kernel runs no 32-bit program (scripts/wine-arch.sh prints win64) they use
# the 64-bit build in build/win64 under wine64, otherwise the shipped 32-bit
# build.
#
# Every comparison runs its two sides interleaved (A B A B ...), PAIRS times
# (default 5), and reports the median of the per-pair ratios; the payloads
# are written once, at the start.
#   extract: ExtractAll of a 1 GiB payload of random text (an uncompressed
#     and an MSZIP cabinet) against cp of the plain cabinet plus cabextract
#     of it; the peak working set of the 1 GiB run minus that of a 1 MiB run.
#   startup: a silent run of a tiny package with no file to run, minus the
#     worker's fixed waits (1000 ms after extraction, 500 ms after the
#     destination step) and minus a trivial program's start; also minus
#     the start of a program that only shows a hidden progress dialog under
#     the same manifest, what any run with a window pays under this Wine.
#   small files: a silent run of a package of 20,000 files of 4 KiB, minus
#     the fixed waits, per file, against cabextract of the same cabinet and
#     against the platform's own creation and deletion of such a tree.
#   integrity: CompareFolderTree over 100,000 small files in 100 folders.
#   content guarantee: ExtractAll of the 1 GiB MSZIP payload with one of its
#     128 MiB files fingerprinted as written and then held and checked as
#     before a launch, against the same ExtractAll without; the file that
#     runs is rarely that large, so this is the dearest case.
#   LZX: bench/lzx-bench.sh, on the x86_64 DLLs of Debian's Wine.
# Every figure is printed as a "name: value" line at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(bash "$root/scripts/wine-arch.sh")" = win64 ]; then
  build=$root/build/win64
  stub=$build/src/quarry.exe
else
  build=$root/build/win
  stub=$root/dist/quarry.exe
fi
bench=$build/bench
pack=$root/dist/quarrypack
pairs=${PAIRS:-5}
work=$root/build/bench
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
calc() { echo "scale=6; $*" | bc -l; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Wine's output goes through a file: a pipe can be held open by the
# services Wine starts beside the first program.
run_wine() { wine "$@" > "$work/wine.out"; tr -d '\r' < "$work/wine.out"; }
value() { sed -n "s/^$1: //p"; }
# The seconds one command takes, its output thrown away.
timed() { local t0 t1; t0=$(now); "$@" >/dev/null 2>&1 || true; t1=$(now); calc "$t1 - $t0"; }
# The same for a reference program, which must succeed for its time to count.
timed_ok() {
  local t0 t1; t0=$(now)
  "$@" >/dev/null 2>&1 || { echo "$* failed" >&2; return 1; }
  t1=$(now); calc "$t1 - $t0"
}
fresh() { rm -rf "$@"; sync; }

# --- payloads, written once ----------------------------------------------
printf '[Package]\r\nProductName=Bench\r\n' > "$work/Settings.ini"
# Random lower-case words: deflate takes them to about 60 %, like typical
# installer payloads, so MSZIP has real work to do.
# (The endless generator runs in a process substitution: under pipefail its
# SIGPIPE at the end would count as a failure.)
random_text() { head -c "$1" < <(base64 -w 76 /dev/urandom | tr 'A-Z0-9+/' 'a-z '); }
mkdir -p "$work/text" "$work/tiny" "$work/start" "$work/small"
for i in 1 2 3 4 5 6 7 8; do random_text 134217728 > "$work/text/part$i.txt"; done
random_text 1048576 > "$work/tiny/part.txt"
echo "bench payload" > "$work/start/readme.txt"
# 20,000 files of 4 KiB in 20 folders.
for d in $(seq -w 1 20); do
  mkdir -p "$work/small/d$d"
  head -c $((1000 * 4096)) /dev/urandom | (cd "$work/small/d$d" && split -b 4096 -a 4 -d - f)
done
make_package() { "$pack" create --stub "$stub" --settings "$work/Settings.ini" --payload "$1" \
  "${@:3}" -o "$work/$2.exe" >/dev/null; }
make_package "$work/text" stored --compression none
make_package "$work/text" mszip
make_package "$work/tiny" tiny
make_package "$work/start" start
make_package "$work/small" small
rm -rf "$work/text" "$work/tiny" "$work/start" "$work/small"
# The plain cabinets as the packages hold them (their largest entry, unscrambled).
for kind in stored mszip small; do
  run_wine "$bench/copy_bench.exe" "Z:$work/$kind.exe" "Z:$work/$kind.cab" 1 >/dev/null
done
# 100,000 files of 100 bytes in 100 folders, named as integrity_bench expects.
python3 - "$work/tree" <<'EOF'
import os, sys
root = sys.argv[1]
data = b"x" * 100
for d in range(100):
    folder = os.path.join(root, "d%03d" % d)
    os.makedirs(folder)
    for f in range(1000):
        with open(os.path.join(folder, "f%05d.bin" % f), "wb") as out:
            out.write(data)
EOF
sync

# --- extract ---------------------------------------------------------------
for kind in stored mszip; do
  ratios=() peaks=() base_times=() ours_times=()
  for _ in $(seq 1 "$pairs"); do
    fresh "$work/base"
    mkdir "$work/base"
    t0=$(now)
    cp "$work/$kind.cab" "$work/base/payload.cab"
    cabextract -q -d "$work/base/out" "$work/base/payload.cab"
    t1=$(now)
    base=$(calc "$t1 - $t0")
    fresh "$work/base" "$work/ours"
    out=$(run_wine "$bench/extract_bench.exe" "Z:$work/$kind.exe" "Z:$work/ours")
    [ "$(value bytes <<<"$out")" = 1073741824 ] || { echo "extract_bench: $out" >&2; exit 1; }
    ours=$(value seconds <<<"$out")
    fresh "$work/ours"
    base_times+=("$base") ours_times+=("$ours")
    ratios+=("$(calc "$ours / $base")")
    peaks+=("$(value peak_working_set_bytes <<<"$out")")
  done
  eval "ratio_$kind=\$(printf '%s\n' \"\${ratios[@]}\" | median)"
  eval "base_$kind=\$(printf '%s\n' \"\${base_times[@]}\" | median)"
  eval "ours_$kind=\$(printf '%s\n' \"\${ours_times[@]}\" | median)"
  eval "peak_$kind=\$(printf '%s\n' \"\${peaks[@]}\" | median)"
done
tiny_peaks=()
for _ in $(seq 1 "$pairs"); do
  out=$(run_wine "$bench/extract_bench.exe" "Z:$work/tiny.exe" "Z:$work/ours")
  tiny_peaks+=("$(value peak_working_set_bytes <<<"$out")")
  fresh "$work/ours"
done
peak_tiny=$(printf '%s\n' "${tiny_peaks[@]}" | median)
# The content guarantee: the same extraction with and without part1.txt
# fingerprinted, held and checked, interleaved.
content_ratios=()
for _ in $(seq 1 "$pairs"); do
  without=$(run_wine "$bench/extract_bench.exe" "Z:$work/mszip.exe" "Z:$work/ours" | value seconds)
  fresh "$work/ours"
  with=$(run_wine "$bench/extract_bench.exe" "Z:$work/mszip.exe" "Z:$work/ours" part1.txt |
    value seconds)
  [ -n "$with" ] || { echo "extract_bench with the guarantee failed" >&2; exit 1; }
  fresh "$work/ours"
  content_ratios+=("$(calc "$with / $without")")
done
content_ratio=$(printf '%s\n' "${content_ratios[@]}" | median)
peak_big=$peak_stored
[ "$(calc "$peak_mszip > $peak_big")" = 1 ] && peak_big=$peak_mszip
rm -f "$work/stored.cab" "$work/mszip.cab" "$work/stored.exe" "$work/mszip.exe"

# --- startup ---------------------------------------------------------------
# One run of each first: the first start of a program under a fresh
# wineserver pays for loading it from disk.
# A run with nothing to run ends with 0 (the exit-code slot was never
# written); anything else is a failed run.
for program in start small; do
  rc=0
  wine "$work/$program.exe" -s >/dev/null 2>&1 || rc=$?
  [ "$rc" = 0 ] || { echo "$program.exe -s ended with $rc, not 0" >&2; exit 1; }
done
wine "$bench/trivial.exe" >/dev/null 2>&1 || true
wine "$bench/dialog_floor.exe" >/dev/null 2>&1 || { echo "dialog_floor.exe failed" >&2; exit 1; }
overheads=() dialog_overheads=() starts=() trivials=() dialogs=()
for _ in $(seq 1 $((pairs + 2))); do
  quarry=$(timed wine "$work/start.exe" -s)
  trivial=$(timed wine "$bench/trivial.exe")
  dialog=$(timed_ok wine "$bench/dialog_floor.exe")
  starts+=("$quarry") trivials+=("$trivial") dialogs+=("$dialog")
  overheads+=("$(calc "($quarry - 1.5 - $trivial) * 1000")")
  dialog_overheads+=("$(calc "($quarry - 1.5 - $dialog) * 1000")")
done
startup_overhead=$(printf '%s\n' "${overheads[@]}" | median)
startup_dialog_overhead=$(printf '%s\n' "${dialog_overheads[@]}" | median)
start_seconds=$(printf '%s\n' "${starts[@]}" | median)
trivial_seconds=$(printf '%s\n' "${trivials[@]}" | median)
dialog_seconds=$(printf '%s\n' "${dialogs[@]}" | median)

# --- small files -------------------------------------------------------------
small_ratios=() small_floor_ratios=() small_ours=() small_base=() small_floor=()
for _ in $(seq 1 "$pairs"); do
  fresh "$work/base"
  base=$(timed cabextract -q -d "$work/base" "$work/small.cab")
  [ "$(find "$work/base" -type f | wc -l)" = 20000 ] || { echo "cabextract: files missing" >&2; exit 1; }
  fresh "$work/base"
  ours=$(calc "$(timed wine "$work/small.exe" -s) - 1.5")
  floor=$(timed_ok wine "$bench/create_floor.exe" "Z:$work/floor" 20 1000 4096)
  small_base+=("$base") small_ours+=("$ours") small_floor+=("$floor")
  small_ratios+=("$(calc "$ours / $base")")
  small_floor_ratios+=("$(calc "$ours / $floor")")
done
small_ratio=$(printf '%s\n' "${small_ratios[@]}" | median)
small_floor_ratio=$(printf '%s\n' "${small_floor_ratios[@]}" | median)
small_seconds=$(printf '%s\n' "${small_ours[@]}" | median)
small_base_seconds=$(printf '%s\n' "${small_base[@]}" | median)
small_floor_seconds=$(printf '%s\n' "${small_floor[@]}" | median)

# --- integrity check -----------------------------------------------------------
out=$(run_wine "$bench/integrity_bench.exe" "Z:$work/tree" 100 1000 100 "$pairs")
[ "$(value files <<<"$out")" = 100000 ] || { echo "integrity_bench: $out" >&2; exit 1; }
integrity_seconds=$(value median_seconds <<<"$out")

# --- LZX ---------------------------------------------------------------------
lzx_figures=$(bash "$root/bench/lzx-bench.sh" "$stub" "$pack" "$work/lzx" "$pairs")

mib() { echo "scale=2; $1 / 1048576" | bc -l; }
echo "pairs: $pairs"
echo "cp_cabextract_seconds_stored: $base_stored"
echo "extract_seconds_stored: $ours_stored"
echo "cp_cabextract_seconds_mszip: $base_mszip"
echo "extract_seconds_mszip: $ours_mszip"
echo "extract_peak_working_set_1gib_mib: $(mib "$peak_big")"
echo "extract_peak_working_set_1mib_mib: $(mib "$peak_tiny")"
echo "startup_silent_run_seconds: $start_seconds"
echo "startup_trivial_program_seconds: $trivial_seconds"
echo "startup_dialog_program_seconds: $dialog_seconds"
echo "small_files_run_minus_waits_seconds: $small_seconds"
echo "small_files_cabextract_seconds: $small_base_seconds"
echo "small_files_platform_create_seconds: $small_floor_seconds"
echo "extract_ratio_vs_cabextract_stored: $(echo "scale=3; $ratio_stored / 1" | bc -l)"
echo "extract_ratio_vs_cabextract_mszip: $(echo "scale=3; $ratio_mszip / 1" | bc -l)"
echo "extract_peak_growth_mib: $(mib "($peak_big - $peak_tiny)")"
echo "startup_overhead_ms: $(echo "scale=1; $startup_overhead / 1" | bc -l)"
echo "startup_overhead_above_dialog_program_ms: $(echo "scale=1; $startup_dialog_overhead / 1" | bc -l)"
echo "small_files_per_file_us: $(echo "scale=1; $small_seconds * 1000000 / 20000" | bc -l)"
echo "small_files_ratio_vs_cabextract: $(echo "scale=3; $small_ratio / 1" | bc -l)"
echo "small_files_ratio_vs_platform_create: $(echo "scale=3; $small_floor_ratio / 1" | bc -l)"
echo "integrity_check_100k_files_s: $integrity_seconds"
echo "integrity_content_overhead_ratio: $(echo "scale=3; $content_ratio / 1" | bc -l)"
echo "$lzx_figures"
