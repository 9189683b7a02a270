# Sourced by demo.sh and language-screenshots.sh: small helpers for watching
# a dialog under Wine on the Xvfb display. Needs $root (the project folder);
# capture needs win_x, win_y, win_w and win_h (the dialog on the screen).

# Paths as the scripts print them: relative to the project when inside it.
show() { case $1 in "$root"/*) echo "${1#"$root"/}" ;; *) echo "$1" ;; esac; }
now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }
alive() { kill -0 "$1" 2>/dev/null; }

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
