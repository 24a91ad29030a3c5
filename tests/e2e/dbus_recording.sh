#!/usr/bin/env bash
# A script drives the real program over D-Bus, as a seeing monitor or an observatory
# controller would: on a private session bus (its own dbus-daemon, stopped by its PID), the
# program on the simulated camera without a display (offscreen), every call made with
# gdbus. It sets exposure, gain and subframe, has a refused gain and a refused second
# recording answered with the reason, records a SER file until it cancels it, and follows
# the two signals. Checks: the signals name the file, the file holds the frames at the size
# set, Status reports the settings, and the settings stored at the end are those set, so the
# window's own controls took them.
#
#   dbus_recording.sh <executable>
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

make_private_home
out=$work/captures
mkdir -p "$out"
store_settings 1 "$out/moon"

bus_out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || {
  echo "FAIL: no private session bus"; exit 1
}
bus_pid=$(sed -n 2p <<<"$bus_out")
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_out")
pids=()
trap 'kill -KILL "${pids[@]}" 2>/dev/null; kill "$bus_pid" 2>/dev/null; rm -rf "$work"' EXIT

name=org.tarvivideo5x.TarviVideo5X
# call METHOD ARGS...: the reply (or the error) on standard output, gdbus's status.
call() {
  local method=$1
  shift
  gdbus call --session --dest $name --object-path /Capture \
    --method org.tarvivideo5x.Capture1."$method" -- "$@" 2>&1
}
fail=0
# expect_refusal TEXT METHOD ARGS...
expect_refusal() {
  local text=$1 reply
  shift
  if reply=$(call "$@"); then
    echo "FAIL: $1 was accepted: $reply"; fail=1
  elif ! grep -qF "Capture1.Error.Refused: $text" <<<"$reply"; then
    echo "FAIL: $1 refused with '$reply', expected '$text'"; fail=1
  fi
}
expect_ok() {
  local reply
  reply=$(call "$@") || { echo "FAIL: $1 refused: $reply"; fail=1; }
}
status_value() {
  call Status | grep -o "'$1': <[^>]*>" | sed "s/^'$1': <\(int64 \)\{0,1\}//; s/>$//"
}

QT_QPA_PLATFORM=offscreen "$exe" >"$work/program.log" 2>&1 &
pids+=($!)
for _ in $(seq 150); do
  call Status >/dev/null && break
  sleep 0.1
done
call Status >/dev/null || { echo "FAIL: the program is not on the bus"; cat "$work/program.log"; exit 1; }
gdbus monitor --session --dest $name --object-path /Capture >"$work/signals.log" 2>&1 &
monitor=$!
pids+=($monitor)
sleep 0.5

expect_ok SetExposure 20.0
expect_ok SetGain 40
expect_ok SetSubframe 640 480
expect_refusal "The gain must be 0 to 100" SetGain 101
expect_refusal "No recording runs" CancelRecording
expect_ok StartRecording "'ser'" 0 "' expo(s)'"
expect_refusal "A recording runs" StartRecording "'FIT'" 1 "' expo(s)'"
sleep 1
[ "$(status_value recording)" = true ] || { echo "FAIL: Status says no recording runs"; fail=1; }
expect_ok CancelRecording
for _ in $(seq 100); do
  grep -q RecordingFinished "$work/signals.log" && break
  sleep 0.1
done

kill "$monitor"
wait "$monitor" 2>/dev/null
started=$(sed -n "s/.*RecordingStarted ('\([^']*\)',).*/\1/p" "$work/signals.log")
finished=$(sed -n "s/.*RecordingFinished ('\([^']*\)', '.*/\1/p" "$work/signals.log")
if [ -z "$finished" ] || [ "$started" != "$finished" ] || [ "$finished" != "$out/moon_00000.SER" ]; then
  echo "FAIL: signals started '$started', finished '$finished'"; cat "$work/signals.log"; fail=1
fi
grep -q "RecordingFinished.*Last Capture" "$work/signals.log" ||
  { echo "FAIL: no summary with the end"; fail=1; }
frames=$(u32_at "$out/moon_00000.SER" 38)
if [ "${frames:-0}" -lt 5 ]; then
  echo "FAIL: the SER file holds ${frames:-no} frames"; fail=1
else
  /usr/bin/python3 "$here/check_recording.py" ser "$out/moon_00000.SER" 640 480 "$frames" 20 || fail=1
fi
for check in "lastFile:'$out/moon_00000.SER'" "recording:false" "exposureUs:20000" "gain:40" \
  "width:640" "height:480"; do
  got=$(status_value "${check%%:*}")
  [ "$got" = "${check#*:}" ] || { echo "FAIL: Status ${check%%:*} is $got, expected ${check#*:}"; fail=1; }
done

stop_program "${pids[0]}" 100 || { echo "FAIL: exit status $?"; fail=1; }
expect_setting EXPOLENGTH 20
expect_setting GAIN 40
expect_setting EXPOCOUNT 0
if grep -F "D-Bus" "$work/program.log"; then echo "FAIL: the program says it is not on the bus"; fail=1; fi
if [ $fail -ne 0 ]; then
  echo "--- program output"; cat "$work/program.log"
  exit 1
fi
echo "PASS"
