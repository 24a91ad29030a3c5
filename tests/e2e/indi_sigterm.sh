#!/usr/bin/env bash
# SIGTERM during an INDI stream and a SER recording ends the program cleanly, every time: the
# program runs on the INDI camera (indiserver with the CCD simulator, inside a private network
# namespace, at a 10 ms exposure, so the driver streams), a SER recording is started through
# the capture button, and SIGTERM arrives a second later. Each run must exit with status 0
# and leave a complete SER file (its frame count, frames and trailer, no side file).
#
#   indi_sigterm.sh <executable> [runs]
set -uo pipefail
exe=$1
runs=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)

source "$here/lib.sh"
if [ "${3:-}" != --drive ]; then
  make_private_home
  out=$work/captures
  mkdir -p "$out"
  store_settings 0 "$out/moon"  # count 0: each recording runs until SIGTERM
  sed -i 's/^EXPOLENGTH=.*/EXPOLENGTH=10/' "$ini"
  unshare -n bash -c 'ip link set lo up && source "$1/lib.sh" && on_virtual_display bash "$2" "$3" "$4" --drive "$5"' \
    _ "$here" "$0" "$exe" "$runs" "$work"
  status=$?
  [ $status -ne 0 ] && for log in "$work"/*.log; do echo "--- $log"; tail -n 20 "$log"; done
  if [ $status -ne 0 ]; then echo "FAIL: status $status"; exit 1; fi
  echo "PASS"
  exit 0
fi

# ---- inside the private network and the virtual display
work=$4
out=$work/captures
source "$here/xwidgets.sh"
fail() {
  echo "FAIL: $*"
  ls -l "$out"
  stop_server
  exit 1
}

# The server and the driver it starts in a process group of their own (the server's PID),
# stopped together: the driver outlives a server stopped alone.
setsid indiserver -p 7624 indi_simulator_ccd >"$work/server.log" 2>&1 &
server=$!
# Called on every way out (start_program's own EXIT trap replaces any trap set here).
stop_server() {
  kill -KILL -- -$server 2>/dev/null
  wait $server 2>/dev/null || true
}
for _ in $(seq 50); do (echo >/dev/tcp/127.0.0.1/7624) 2>/dev/null && break; sleep 0.1; done

for ((run = 1; run <= runs; run++)); do
  start_program "run$run" --camera indi --camera-option server=127.0.0.1:7624
  choose_ser  # each start offers FIT
  before=$(ls "$out" | wc -l)
  x_click "$button" 1 || fail "run $run: cannot click the capture button"
  x_park_pointer
  started() { [ "$(ls "$out"/*.SER 2>/dev/null | wc -l)" -ge $((run)) ]; }
  poll 50 started || fail "run $run: the SER recording did not start ($before files before)"
  # SIGTERM once frames come (a stream slow to start is not what this checks), at most 10 s.
  ser=$(ls -t "$out"/*.SER | head -n 1)
  has_frames() { [ "$(u32_at "$ser" 38)" -ge 1 ]; }
  poll 10 has_frames
  sleep 1
  kill -TERM $pid
  wait_exit $pid 300 || fail "run $run: the program did not end after SIGTERM"
  wait $pid
  code=$?
  [ $code -eq 0 ] || fail "run $run: exit status $code after SIGTERM"

  ser=$(ls -t "$out"/*.SER | head -n 1)
  [ -f "$ser.stamps" ] && fail "run $run: the side file of $ser is still there"
  count=$(u32_at "$ser" 38)
  w=$(u32_at "$ser" 26) h=$(u32_at "$ser" 30) depth=$(u32_at "$ser" 34)
  bytes=$(( depth > 8 ? 2 : 1 ))
  expected=$(( 178 + count * (w * h * bytes + 8) ))
  size=$(stat -c %s "$ser")
  [ "$size" -eq "$expected" ] ||
    fail "run $run: $ser holds $size bytes for $count frames of ${w}x${h}x$depth (expected $expected)"
  echo "run $run: $count frames, exit 0"
done
stop_server
exit 0
