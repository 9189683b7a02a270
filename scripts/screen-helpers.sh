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
