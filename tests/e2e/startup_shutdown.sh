#!/usr/bin/env bash
# Starts the program with the simulated camera, waits for the connected main window,
# closes it with SIGTERM (handled like the close box) and checks the exit status and the
# four stored settings.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
export XDG_RUNTIME_DIR=$work/run  # the instance lock of this run only
mkdir -m 700 "$XDG_RUNTIME_DIR"
ini=$XDG_CONFIG_HOME/TarviVideo5X/TarviVideo5X.ini
mkdir -p "$(dirname "$ini")"
printf '[TarviVideo2R]\nEXPOLENGTH=40\nEXPOCOUNT=007\nFILENAME=%s/moon\nGAIN=33\n' "$work" >"$ini"

xvfb-run -a -s "-screen 0 1400x900x24" bash -c '
  source "$3/lib.sh"
  "$1" >"$2/out.log" 2>&1 &
  pid=$!
  if ! wait_window "TarviVideo5X1.0 connected to SimCam" 300; then
    echo "FAIL: the connected main window did not appear"; kill -KILL $pid; exit 91
  fi
  kill -TERM $pid
  if ! wait_exit $pid 300; then echo "FAIL: the program did not end after SIGTERM"; exit 92; fi
  wait $pid
' _ "$exe" "$work" "$here"
status=$?
cat "$work/out.log" 2>/dev/null
if [ $status -ne 0 ]; then echo "FAIL: exit status $status"; exit 1; fi

fail=0
check() {
  local got
  got=$(ini_value "$ini" "$1")
  if [ "$got" != "$2" ]; then echo "FAIL: $1 is '$got', expected '$2'"; fail=1; fi
}
source "$here/lib.sh"
check EXPOLENGTH 40
check EXPOCOUNT 7
check FILENAME "$work/moon"
check GAIN 33
exit $fail
