#!/usr/bin/env bash
# Starts the program twice: the second instance shows the single-instance error window,
# never a main window of its own, and ends with status 1 when that window is closed;
# the first one keeps running and ends normally.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"

xvfb-run -a -s "-screen 0 1400x900x24" bash -c '
  source "$3/lib.sh"
  "$1" >"$2/first.log" 2>&1 &
  first=$!
  if ! wait_window "TarviVideo5X1.0 connected to" 300; then
    echo "FAIL: the first instance did not come up"; kill -KILL $first; exit 91
  fi
  "$1" >"$2/second.log" 2>&1 &
  second=$!
  if ! wait_window "KORVANE - Error" 150; then
    echo "FAIL: no error window"; kill -KILL $first $second; exit 92
  fi
  if [ "$(xwininfo -root -tree | grep -cF "connected to")" -ne 1 ]; then
    echo "FAIL: a second main window"; kill -KILL $first $second; exit 93
  fi
  kill -TERM $second  # closes the error window like its close box
  wait_exit $second 100 || { echo "FAIL: the second instance did not end"; exit 94; }
  wait $second; s=$?
  [ $s -eq 1 ] || { echo "FAIL: second instance status $s"; kill -KILL $first; exit 95; }
  kill -0 $first || { echo "FAIL: the first instance ended"; exit 96; }
  kill -TERM $first
  wait_exit $first 300 || { echo "FAIL: the first instance did not end"; exit 97; }
  wait $first
' _ "$exe" "$work" "$here"
status=$?
cat "$work"/*.log 2>/dev/null
exit $status
