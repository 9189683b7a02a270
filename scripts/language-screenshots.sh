#!/usr/bin/env bash
# Photographs the progress dialog of a packed program once per language, to
# see that every translation fits and that its script is drawn with a real
# font (no boxes): Wine runs the program with LANG and LC_ALL set to the
# language, in its own virtual desktop on an Xvfb display, and the dialog is
# photographed once it has finished ("Completed." and "Close" in that
# language), then closed with Escape.
#
# Usage: scripts/language-screenshots.sh PACKAGE [OUTDIR]
#   PACKAGE    a program packed with quarrypack (demo.sh makes one from
#              demo/sample)
#   OUTDIR     where dialog-<language>.png go (default build/demo)
# Environment:
#   LANGUAGES     the languages to photograph, as names such as ja-JP
#                 (default: ja-JP zh-CN ko-KR th-TH ru-RU el-GR)
#   QUARRY_TITLE  the dialog's caption (default: WindowTitle of
#                 demo/sample/Settings.ini)
#   WINEPREFIX    as for scripts/with-wine.sh
# The fonts these scripts need come from Debian's fonts-noto-cjk (Chinese,
# Japanese, Korean) and fonts-thai-tlwg (Thai); scripts/install-deps.sh
# installs them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

source "$root/scripts/screen-helpers.sh"

# ---------------------------------------------------------------------------
# Inside scripts/with-wine.sh, which provides DISPLAY, the prefix and the
# wineserver, and stops them afterwards. Every wait is bounded.


# runs PATTERN: whether a process of this Wine prefix runs whose command line
# matches PATTERN (an extended regular expression); Wine shows a program's
# Windows command line as its process's.
runs() {
  local pid
  for pid in $(pgrep -f -- "$1"); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      return 0
    fi
  done
  return 1
}

# The package's run-mode copy ("NAME.exe -run ...").
run_mode_alive() { runs "$run_pattern"; }

# The viewable windows titled as the dialog, one id a line.
dialog_windows() { viewable_windows "$title_re"; }


# photograph LANGUAGE: one run of the package with Wine in that language.
photograph() {
  local language=$1 locale started id sum previous="" steady_since shot
  locale=${language/-/_}.UTF-8
  started=$(now_ms)
  # A desktop of its own per language: a desktop's explorer keeps the
  # language it was started with.
  LANG=$locale LC_ALL=$locale timeout -k 5 60 \
    wine explorer "/desktop=Quarry-$language,640x300" "Z:$package" >"$work/$language.log" 2>&1 &
  run=$!

  id=""
  while [ $(($(now_ms) - started)) -lt 30000 ]; do
    id=$(dialog_windows | head -n 1 || true)
    [ -n "$id" ] && break
    alive "$run" || break
    sleep 0.1
  done
  if [ -z "$id" ]; then
    echo "  $language: no window titled \"$title\" within 30 s (see $(show "$work/$language.log"))" >&2
    stop_background "$run"
    return 1
  fi
  locate_window "$id"

  # Finished: the run-mode copy that started the configured file has ended
  # and the dialog no longer changes. (While it extracts, the bar moves every
  # 66 ms; while the file runs, the dialog stands still too.) A run-mode copy
  # too short to be seen is covered by a longer rest.
  local appeared how="" finished
  appeared=$(now_ms)
  shot=$work/$language.png
  # The first picture shows the extraction: "Extracting files..." and the
  # Cancel button.
  if capture "$shot"; then cp "$shot" "$out/dialog-$language-extracting.png"; fi
  steady_since=$(now_ms)
  local seen_run="" rest
  local why="did not come to rest within 50 s"
  while [ $(($(now_ms) - started)) -lt 50000 ]; do
    if ! capture "$shot"; then why="could not be photographed"; break; fi
    sum=$(picture_sum "$shot")
    if [ "$sum" != "$previous" ]; then
      previous=$sum
      steady_since=$(now_ms)
    fi
    if run_mode_alive; then
      seen_run=1
      steady_since=$(now_ms)
    else
      rest=$(($(now_ms) - steady_since))
      if [ -n "$seen_run" ] && [ "$rest" -ge 1200 ]; then
        how="the run-mode copy ended"
      elif [ "$rest" -ge 8000 ]; then
        how="no run-mode copy seen; 8 s unchanged"
      fi
      if [ -n "${how:-}" ]; then
        finished=$(now_ms)
        cp "$shot" "$out/dialog-$language.png"
        break
      fi
    fi
    if ! alive "$run"; then why="ended before it came to rest"; break; fi
    sleep 0.2
  done
  if [ ! -f "$out/dialog-$language.png" ]; then
    echo "  $language: the dialog $why (see $(show "$work/$language.log"))" >&2
    stop_background "$run"
    return 1
  fi

  timeout 5 xdotool key --window "$id" Escape 2>/dev/null || true
  if ! ended_within "$run" 5; then
    echo "  $language: the dialog did not close on Escape; stopping it" >&2
    stop_background "$run"
  fi
  wait "$run" 2>/dev/null || true
  # The next run looks for a window of the same title; and a desktop that
  # closes while the next run starts would take that run with it (Wine's
  # default desktop ends a few seconds after the run that used it).
  for _ in $(seq 1 80); do
    if [ -z "$(dialog_windows)" ] && ! runs 'explorer\.exe /desktop'; then break; fi
    sleep 0.1
  done
  echo "  $language: $(show "$out/dialog-$language.png") and $(show "$out/dialog-$language-extracting.png")"
  echo "    ${win_w}x${win_h}; window after $(seconds "$started" "$appeared") s, finished" \
    "($how) after $(seconds "$started" "$finished") s"
}

if [ "${1:-}" = "--inside" ]; then
  package=$2
  package_name=$(basename "$package")
  run_pattern="$(regex_escape "$package_name") -run "
  out=$3
  title=$4
  title_re=$(regex_escape "$title")
  work=$out/language-runs
  mkdir -p "$work"
  trap 'stop_background "$run" 2>/dev/null || true' EXIT
  run=""
  failed=0
  for language in ${LANGUAGES:-ja-JP zh-CN ko-KR th-TH ru-RU el-GR}; do
    rm -f "$out/dialog-$language.png" "$out/dialog-$language-extracting.png"
    photograph "$language" || failed=$((failed + 1))
  done
  [ "$failed" -eq 0 ] && rm -rf "$work"
  exit $((failed > 0))
fi

# ---------------------------------------------------------------------------
if [ $# -lt 1 ] || [ ! -f "$1" ]; then
  echo "usage: scripts/language-screenshots.sh PACKAGE [OUTDIR]" >&2
  exit 2
fi
package=$(realpath "$1")
out=$(realpath -m "${2:-$root/build/demo}")
title=${QUARRY_TITLE:-$(sed -n 's/^WindowTitle=//p' "$root/demo/sample/Settings.ini" | tr -d '\r')}
for tool in wine xdotool xwininfo import convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "language-screenshots: $tool is missing: run scripts/install-deps.sh" >&2
    exit 1
  fi
done
# Without these the scripts are drawn as boxes; the pictures are still made.
for script in ja zh-cn ko th; do
  if [ -z "$(fc-list ":lang=$script" family 2>/dev/null | head -n 1)" ]; then
    echo "language-screenshots: no font for \"$script\" (scripts/install-deps.sh installs them)" >&2
  fi
done
mkdir -p "$out"

use_wine_fonts "$out"

timeout -k 10 150 "$root/scripts/with-wine.sh" bash "$0" --inside "$package" "$out" "$title"
