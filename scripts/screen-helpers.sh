# Sourced by demo.sh and language-screenshots.sh: small helpers for watching
# a dialog under Wine on the Xvfb display. Needs $root (the project folder);
# capture needs win_x, win_y, win_w and win_h (the dialog on the screen,
# as locate_window sets them).

# Paths as the scripts print them: relative to the project when inside it.
show() { case $1 in "$root"/*) echo "${1#"$root"/}" ;; *) echo "$1" ;; esac; }
now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }
alive() { kill -0 "$1" 2>/dev/null; }
# ended_within PID SECONDS: whether PID ends within SECONDS (whole seconds).
ended_within() {
  local _
  for _ in $(seq 1 $(($2 * 10))); do alive "$1" || return 0; sleep 0.1; done
  ! alive "$1"
}
# seconds FROM [TO]: the time between two now_ms stamps (TO: now), as "1.2".
seconds() { awk -v a="$1" -v b="${2:-$(now_ms)}" 'BEGIN { printf "%.1f", (b - a) / 1000 }'; }

# regex_escape TEXT: TEXT as an extended regular expression that matches it
# literally.
# shellcheck disable=SC2016 # a bracket expression, not an expansion
regex_escape() { printf '%s' "$1" | sed 's/[][\.*^$(){}+?|]/\\&/g'; }

# viewable_windows TITLE_RE: the viewable X windows whose whole title matches
# TITLE_RE, one id a line.
viewable_windows() {
  local id
  for id in $(timeout 5 xdotool search --name "^$1\$" 2>/dev/null); do
    if timeout 5 xwininfo -id "$id" 2>/dev/null | grep IsViewable >/dev/null; then echo "$id"; fi
  done
}

# locate_window ID: sets win_x, win_y, win_w and win_h to where X window ID
# stands on the screen.
locate_window() {
  local geometry
  geometry=$(timeout 5 xwininfo -id "$1")
  win_x=$(awk '/Absolute upper-left X/ { print $NF }' <<<"$geometry")
  win_y=$(awk '/Absolute upper-left Y/ { print $NF }' <<<"$geometry")
  win_w=$(awk '/Width:/ { print $NF }' <<<"$geometry")
  win_h=$(awk '/Height:/ { print $NF }' <<<"$geometry")
}

# capture FILE: the dialog as it is on the screen now.
capture() { timeout 10 import -window root -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage "$1"; }
picture_sum() { timeout 10 convert "$1" rgb:- | md5sum | cut -c1-32; }

# stop_background PID: ends a background job of this script and reaps it.
stop_background() {
  if alive "$1"; then
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
  fi
}

# use_wine_fonts DIR: Debian's Wine looks for its own fonts (fonts-wine) in the
# wrong folder and would draw captions without Tahoma and Marlett (the
# caption buttons' glyphs); fontconfig, which Wine also asks, is told where
# they are, through a configuration written into DIR. Kept when already set.
use_wine_fonts() {
  [ -z "${FONTCONFIG_FILE:-}" ] && [ -d /usr/share/wine/fonts ] || return 0
  mkdir -p "$1/fontconfig"
  cat >"$1/fontconfig/fonts.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <dir>/usr/share/wine/fonts</dir>
  <cachedir>$1/fontconfig/cache</cachedir>
</fontconfig>
EOF
  export FONTCONFIG_FILE=$1/fontconfig/fonts.conf
}
