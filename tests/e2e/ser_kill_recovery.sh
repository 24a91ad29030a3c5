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

source "$here/lib.sh"
if [ "${2:-}" != --drive ]; then
  make_private_home
  out=$work/captures
  mkdir -p "$out"
  store_settings 0 "$out/moon"  # count 0: the recording runs until it is stopped

  on_virtual_display bash "$0" "$exe" --drive "$work"
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

start_program run1
# The video button appears once SER is chosen in the capture buttons' pop-up menu.
choose_ser

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
stop_program $pid 300 || fail "exit status $?"
frames=$(u32_at "$ser" 38)
[ "$frames" -ge "$count" ] || fail "completed with $frames frames, fewer than the $count counted"
/usr/bin/python3 "$here/check_recording.py" ser "$ser" $WIDTH $HEIGHT "$frames" || fail "file not sound"
# The seeing figures hold a row for every frame written before the kill: the frame the kill
# may have caught between its write and its row is the one that can lack it.
rows=$(($(wc -l < "${ser%.*}.quality.csv") - 1))
[ "$rows" -ge $((frames - 1)) ] && [ "$rows" -le "$frames" ] || fail "$rows figure rows for $frames frames"
echo "completed: $frames frames"
exit 0
