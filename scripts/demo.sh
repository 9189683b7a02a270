#!/usr/bin/env bash
# The demo: checks the sample package's inputs with quarrypack, packs it,
# checks and lists the packed program, extracts it
# with quarrypack and shows what came out, then runs the packed program under
# Wine on the Xvfb display as a user would see it: it photographs the progress
# dialog while it extracts and when it has finished, clicks Close and reports
# the program's exit code.
#
# Paths can be overridden to demo another build:
#   QUARRY_EXE    the runner stub        (default dist/quarry.exe)
#   EXITCODE_EXE  exit code printer      (default build/win/src/exitcode.exe)
#   QUARRYPACK    the packager           (default dist/quarrypack)
#   DEMO_OUT      output folder, emptied (default build/demo)
#   DEMO_DATA_MB  random filler added to the payload so that extraction lasts
#                 long enough to be seen (default 40)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
QUARRY_EXE=$(realpath -m "${QUARRY_EXE:-$root/dist/quarry.exe}")
EXITCODE_EXE=$(realpath -m "${EXITCODE_EXE:-$root/build/win/src/exitcode.exe}")
QUARRYPACK=$(realpath -m "${QUARRYPACK:-$root/dist/quarrypack}")
DEMO_OUT=$(realpath -m "${DEMO_OUT:-$root/build/demo}")
DEMO_DATA_MB=${DEMO_DATA_MB:-40}
export QUARRY_EXE EXITCODE_EXE QUARRYPACK DEMO_OUT DEMO_DATA_MB
out=$DEMO_OUT
sample=$root/demo/sample
package=$out/QuarrySample.exe
frames=$out/frames

source "$root/scripts/screen-helpers.sh"

# ---------------------------------------------------------------------------
# The visible run. Called as `demo.sh --dialog` inside scripts/with-wine.sh,
# which provides DISPLAY (Xvfb), the prefix and the wineserver, and stops them.
# Every wait below is bounded; nothing here waits for the program for ever.


# Text recognition of a dialog picture, enlarged three times: plain lines or,
# with `tsv`, one word a line with its box (in enlarged pixels).
ocr() {
  local image=$1 mode=${2:-}
  timeout 10 convert "$image" -colorspace gray -resize 300% "$frames/ocr.png" || return 1
  timeout 30 tesseract "$frames/ocr.png" - --psm 11 ${mode:+"$mode"} 2>/dev/null
}

# The status line's text as OCR reads it from a picture, or nothing.
status_text() {
  ocr "$1" | grep -oE 'Extracting files\.\.\.|Executing file\.\.\.|Cleaning up\.\.\.|Completed\.|Cancelled\.|Failed\.' |
    head -n 1 || true
}

# word_box PICTURE WORD: "left top width height" of WORD in the picture.
word_box() {
  ocr "$1" tsv | awk -F '\t' -v w="$2" '$12 == w { printf "%d %d %d %d\n", $7 / 3, $8 / 3, $9 / 3, $10 / 3; exit }'
}

# band_sum PICTURE: checksum of the status line's rows.
band_sum() { timeout 10 convert "$1" -crop "${win_w}x${band_h}+0+${band_y}" +repage rgb:- | md5sum | cut -c1-32; }
pixels_changed() {
  timeout 10 compare -metric AE "$1" "$2" null: 2>&1 | awk '{ printf "%d", $1 }' || true
}

# Pictures taken in the background: frames/x-NNNN.png, with "N milliseconds"
# lines in frames/times, until frames/stop appears or a minute has passed.
frame() { printf '%s/x-%04d.png' "$frames" "$1"; }
last_frame() { tail -n 1 "$frames/times" 2>/dev/null | cut -d ' ' -f 1 || echo 0; }
frame_time() {
  awk -v n="$1" -v from="$2" '$1 == n { printf "%.1f", ($2 - from) / 1000 }' "$frames/times"
}
capture_frames() {
  local n=0 end=$(($(now_ms) + 60000)) taken
  while [ ! -e "$frames/stop" ] && [ "$(now_ms)" -lt "$end" ]; do
    taken=$(now_ms)
    capture "png:$(frame "$n").part" || break
    mv "$(frame "$n").part" "$(frame "$n")"
    echo "$n $taken" >>"$frames/times"
    n=$((n + 1))
  done
}


dialog_demo() {
  local title title_re id started appeared i box status first_band tool
  for tool in xdotool xwininfo import convert compare tesseract; do
    if ! command -v "$tool" >/dev/null; then
      echo "  $tool is missing: run scripts/install-deps.sh" >&2
      return 1
    fi
  done
  title=$(sed -n 's/^WindowTitle=//p' "$sample/Settings.ini" | tr -d '\r')
  title_re=$(regex_escape "$title")
  mkdir -p "$frames"

  # Wine's virtual desktop draws the windows as Windows does, caption and
  # frame included; without a window manager plain Wine windows have none.
  started=$(now_ms)
  timeout -k 5 180 wine explorer /desktop=Quarry,800x600 "Z:$EXITCODE_EXE" "Z:$package" \
    >"$out/exitcode.txt" 2>"$out/wine.log" &
  runner=$!
  trap 'touch "$frames/stop" 2>/dev/null || true; stop_background "$runner"' EXIT

  id=""
  while [ $(($(now_ms) - started)) -lt 45000 ]; do
    id=$(viewable_windows "$title_re" | head -n 1 || true)
    [ -n "$id" ] && break
    alive "$runner" || break
    sleep 0.1
  done
  if [ -z "$id" ]; then
    echo "  no window titled \"$title\" appeared within 45 s (see $(show "$out/wine.log"))" >&2
    return 1
  fi
  locate_window "$id"
  appeared=$(now_ms)
  echo "  window \"$title\" appeared after $(seconds "$started") s:" \
    "${win_w}x${win_h} at ${win_x},${win_y} on the 800x600 Wine desktop"

  # Pictures come as fast as they can from a second process while this one
  # reads the first of them to find the status line; its rows are then
  # compared from picture to picture until its text changes.
  capture_frames &
  capturer=$!
  local ref="" k="" deadline=$(($(now_ms) + 60000))
  i=0
  while [ "$(now_ms)" -lt "$deadline" ] && alive "$capturer"; do
    if [ ! -e "$(frame "$i")" ]; then sleep 0.02; continue; fi
    box=$(word_box "$(frame "$i")" Extracting || true)
    if [ -n "$box" ]; then ref=$i; break; fi
    i=$(last_frame)
  done
  if [ -z "$ref" ]; then
    echo "  could not read \"Extracting files...\" on the dialog (pictures in $(show "$frames"))" >&2
    return 1
  fi
  read -r _ band_y _ band_h <<<"$box"
  band_y=$((band_y > 4 ? band_y - 4 : 0))
  band_h=$((band_h + 8))
  first_band=$(band_sum "$(frame "$ref")")
  i=$((ref + 1))
  while [ "$(now_ms)" -lt "$deadline" ]; do
    if [ ! -e "$(frame "$i")" ]; then
      alive "$capturer" || break
      sleep 0.02
      continue
    fi
    if [ "$(band_sum "$(frame "$i")")" != "$first_band" ]; then k=$i; break; fi
    i=$((i + 1))
  done
  touch "$frames/stop"
  wait "$capturer" || true
  if [ -z "$k" ]; then
    echo "  the status line did not change within 60 s (pictures in $(show "$frames"))" >&2
    return 1
  fi

  # The picture to keep: the one whose progress bar is nearest to half its
  # final length (the bar is all that changes while the text stays).
  local best=$ref best_gap=-1 best_moved=0 moved total gap
  total=$(pixels_changed "$(frame "$ref")" "$(frame $((k - 1)))")
  for i in $(seq "$ref" $((k - 1))); do
    moved=$(pixels_changed "$(frame "$ref")" "$(frame "$i")")
    gap=$((2 * moved - total)); gap=${gap#-}
    if [ "$best_gap" -lt 0 ] || [ "$gap" -lt "$best_gap" ]; then
      best=$i; best_gap=$gap; best_moved=$moved
    fi
  done
  cp "$(frame "$best")" "$out/dialog-extracting.png"
  status=$(status_text "$out/dialog-extracting.png")
  echo "  status line \"${status:-(unreadable)}\" until $(frame_time "$k" "$appeared") s after the window appeared" \
    "($((k - ref)) pictures)"
  echo "  picture at $(frame_time "$best" "$appeared") s, the progress bar" \
    "$((total > 0 ? 100 * best_moved / total : 0))% of its length at the end of extraction:" \
    "$(show "$out/dialog-extracting.png")"

  # Then the status line moves on; the run has finished when it shows its
  # final text and the dialog stays still.
  local previous_sum="" sum shown="" final="" shot_at
  cp "$(frame "$k")" "$frames/now.png"
  shot_at=$(frame_time "$k" "$appeared")
  while [ $((($(now_ms) - appeared) / 1000)) -lt 90 ]; do
    sum=$(picture_sum "$frames/now.png")
    status=$(status_text "$frames/now.png")
    if [ -n "$status" ] && [ "$status" != "$shown" ]; then
      shown=$status
      if [ "$status" != "Extracting files..." ]; then
        echo "  status line \"$status\" in the picture at $shot_at s"
      fi
    fi
    case $status in
      Completed.|Cancelled.|Failed.)
        if [ "$sum" = "$previous_sum" ]; then final=$status; break; fi ;;
    esac
    previous_sum=$sum
    alive "$runner" || break
    sleep 0.2
    shot_at=$(seconds "$appeared")
    capture "$frames/now.png" || break
  done
  if [ -z "$final" ]; then
    echo "  the dialog did not reach a final status line (pictures in $(show "$frames"))" >&2
    return 1
  fi
  local name=completed
  [ "$final" = "Completed." ] || name=$(tr '[:upper:]' '[:lower:]' <<<"${final%.}")
  cp "$frames/now.png" "$out/dialog-$name.png"
  echo "  picture at $shot_at s (unchanged since the one before): $(show "$out/dialog-$name.png")"

  # Close it as a user would: a click on the button that reads "Close".
  box=$(word_box "$frames/now.png" Close || true)
  if [ -n "$box" ]; then
    local bx by bw bh
    read -r bx by bw bh <<<"$box"
    echo "  clicking \"Close\""
    timeout 5 xdotool mousemove --sync $((win_x + bx + bw / 2)) $((win_y + by + bh / 2)) click 1 || true
  else
    echo "  no \"Close\" button read on the dialog; pressing Escape"
    timeout 5 xdotool key --window "$id" Escape 2>/dev/null || true
  fi
  if ! ended_within "$runner" 10; then
    echo "  the dialog did not close within 10 s; stopping it" >&2
    stop_background "$runner"
    return 1
  fi
  wait "$runner" || true

  local code
  code=$(tr -d '\r' <"$out/exitcode.txt" | sed -n 's/^exit code: \(0x[0-9a-fA-F]\{8\}\)$/\1/p')
  if [ -z "$code" ]; then
    echo "  no exit code was printed (see $(show "$out/exitcode.txt"), $(show "$out/wine.log"))" >&2
    return 1
  fi
  echo "  quarry.exe exit code: $code"
  # The sample's setup.cmd ends with 3010 ("restart required").
  if [ "$final" = "Completed." ] && [ "$code" = 0x00000bc2 ]; then
    echo "  completed: setup.cmd ran through the run-mode copy and ended with 3010;"
    echo "  quarry.exe ended with the same exit code, $code"
    rm -rf "$frames"
  else
    echo "  ${final%.}, exit code $code" | tr '[:upper:]' '[:lower:]' >&2
    return 1
  fi
}

if [ "${1:-}" = "--dialog" ]; then
  if dialog_demo; then exit 0; else exit 1; fi
fi

# ---------------------------------------------------------------------------
[ -n "$out" ] && [ "$out" != / ] && rm -rf "$out"
mkdir -p "$out"

echo "== quarrypack check on the inputs in demo/sample"
echo "   (one line per finding; errors would stop create, warnings do not)"
"$QUARRYPACK" check --settings "$sample/Settings.ini" --payload "$sample/payload" \
  --message "$sample/MessageInfo.xml"

echo
echo "== packing demo/sample into $(show "$package")"
echo "   (its payload plus $DEMO_DATA_MB MB of random data, so that extraction can be watched)"
cp -r "$sample/payload" "$out/payload"
mkdir -p "$out/payload/data"
head -c "$((DEMO_DATA_MB * 1024 * 1024))" /dev/urandom >"$out/payload/data/filler.bin"
"$QUARRYPACK" create --stub "$QUARRY_EXE" --settings "$sample/Settings.ini" \
  --payload "$out/payload" --message "$sample/MessageInfo.xml" -o "$package"

echo
echo "== quarrypack check on the packed program"
"$QUARRYPACK" check "$package"

echo
echo "== quarrypack list"
"$QUARRYPACK" list "$package"

echo
echo "== quarrypack extract into $(show "$out/extracted")"
"$QUARRYPACK" extract "$package" "$out/extracted"
(cd "$out/extracted" && find . -type f | sort | while read -r f; do
  printf '  %-40s %8d bytes\n' "$f" "$(stat -c %s "$f")"
done)
if diff -r "$out/payload" "$out/extracted/Package" >/dev/null; then
  echo "  the payload came back byte for byte"
else
  echo "  the payload differs from $(show "$out/payload")" >&2
  exit 1
fi
rm -rf "$out/payload"

use_wine_fonts "$out"

echo
echo "== running the packed program under Wine, visibly (Xvfb, Wine virtual desktop)"
echo "   the status line is read from the screen by OCR (tesseract)"
timeout -k 10 300 "$root/scripts/with-wine.sh" bash "$root/scripts/demo.sh" --dialog

# Optional: the same dialog in other languages, to see that the translations
# fit and are drawn with real fonts. Missing fonts or a failed run do not
# fail the demo.
echo
echo "== the dialog in Japanese, Chinese (Simplified), Korean, Thai, Russian and Greek"
"$root/scripts/language-screenshots.sh" "$package" "$out" ||
  echo "  (not every language was photographed; the demo itself has passed)"
