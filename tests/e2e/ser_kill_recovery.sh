#!/usr/bin/env bash
# A SER recording survives a kill -9 of the program: started with the simulated camera and
# driven by synthetic X input, the program records SER until SIGKILL ends it about two
# seconds in. The file it leaves is read by FFmpeg (the header's count follows the
# recording); the next start completes it (header count, trailer), says so on stderr
# naming the file, and removes the side file of stamps.
#
#   ser_kill_recovery.sh <executable>
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
WIDTH=1280
HEIGHT=960

if [ "${2:-}" != --drive ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  out=$work/captures
  mkdir -p "$out"
  export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
  export XDG_RUNTIME_DIR=$work/run
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  ini=$XDG_CONFIG_HOME/TarviVideo5X/TarviVideo5X.ini
  mkdir -p "$(dirname "$ini")"
  # Count 0: the recording runs until it is stopped.
  printf '[TarviVideo2R]\nEXPOLENGTH=40\nEXPOCOUNT=0\nFILENAME=%s/moon\nGAIN=33\n' "$out" >"$ini"

  xvfb-run -a -s "-screen 0 1400x900x24" bash "$0" "$exe" --drive "$work"
  status=$?
  for log in "$work"/run*.log; do echo "--- $log"; cat "$log"; done
  if [ $status -ne 0 ]; then
    echo "FAIL: status $status"
    exit 1
  fi
  echo "PASS"
  exit 0
fi

# ---- inside the virtual display
work=$3
out=$work/captures
ser=$out/moon_00000.SER
source "$here/xwidgets.sh"

fail() {
  echo "FAIL: $*"
  ls -l "$out"
  exit 1
}

u32_at() {
  od -An -tu1 -j "$2" -N 4 "$1" 2>/dev/null |
    awk 'NF == 4 { printf "%.0f\n", $1 + 256 * ($2 + 256 * ($3 + 256 * $4)) }'
}

# Starts the program; sets $pid and $main (its connected main window).
start_program() {
  QT_USE_NATIVE_WINDOWS=1 "$exe" >"$work/$1.log" 2>&1 &
  pid=$!
  main_window_up() {
    kill -0 $pid 2>/dev/null || fail "the program ended at start-up"
    main=$(x_toplevel " connected to ")
    [ -n "$main" ] && x_viewable "$main"
  }
  poll 40 main_window_up || fail "the connected main window did not appear"
}
trap 'kill -0 ${pid:-0} 2>/dev/null && kill -KILL $pid' EXIT

start_program run1
# The capture buttons' place (165 x 35 pixels, children of that size at its origin) and
# the one button in view; the video button appears once SER is chosen in its pop-up menu.
find_button_place() {
  local id geometry
  while read -r id geometry; do
    case $geometry in 165x35+0+0 | 165x35-*) continue ;; 165x35+*) ;; *) continue ;; esac
    if x_children "$id" | grep -q ' 165x35+0+0$'; then
      place=$id
      return 0
    fi
  done < <(x_descendants "$main")
  return 1
}
poll 20 find_button_place || fail "no capture button place"
shown_button() {
  local mapped
  mapped=$(x_mapped_children "$place")
  [ "$(wc -l <<<"$mapped")" -eq 1 ] && [ -n "$mapped" ] && button=$mapped
}
poll 20 shown_button || fail "no capture button in view"
still=$button
x_click "$still" 3 || fail "cannot right-click the capture button"
one_popup() {
  popup=$(x_popups)
  [ -n "$popup" ] && [ "$(wc -l <<<"$popup")" -eq 1 ]
}
poll 20 one_popup || fail "the format menu did not open"
x_click_menu_item "$popup" 0 4 || fail "cannot click SER in the format menu"
x_park_pointer
video_shown() { shown_button && [ "$button" != "$still" ]; }
poll 20 video_shown || fail "the video capture button did not come into view"

x_click "$button" 1 || fail "cannot click the video capture button"
x_park_pointer
recording() { [ -f "$ser" ] && [ -f "$ser.stamps" ] && [ "$(u32_at "$ser" 38)" -ge 1 ]; }
poll 50 recording || fail "the SER recording did not start"
sleep 2
kill -KILL $pid
wait $pid 2>/dev/null

# As the kill left it: FFmpeg reads the frames the header counts, at least one second's.
count=$(u32_at "$ser" 38)
[ -f "$ser.stamps" ] || fail "no side file of stamps after the kill"
read_frames=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames -of csv=p=0 "$ser")
echo "after the kill: header count $count, FFmpeg reads $read_frames frames"
[ "$count" -ge 10 ] || fail "header count $count after about 2 s at 40 ms"
[ "$read_frames" = "$count" ] || fail "FFmpeg reads $read_frames frames, the header counts $count"

# The next start completes the file and says so, naming it.
start_program run2
grep -q "interrupted recording \"$ser\"" "$work/run2.log" || fail "no line naming $ser at start-up"
[ ! -e "$ser.stamps" ] || fail "the side file is still there"
kill -TERM $pid
wait_ended() { ! kill -0 $pid 2>/dev/null; }
poll 30 wait_ended || fail "the program did not end after SIGTERM"
wait $pid || fail "exit status $?"
frames=$(u32_at "$ser" 38)
[ "$frames" -ge "$count" ] || fail "completed with $frames frames, fewer than the $count counted"
/usr/bin/python3 "$here/check_recording.py" ser "$ser" $WIDTH $HEIGHT "$frames" || fail "file not sound"
echo "completed: $frames frames"
exit 0
