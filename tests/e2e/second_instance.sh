#!/usr/bin/env bash
# Starts the program twice: the second instance shows the single-instance error window,
# never a main window of its own, and ends with status 1 when that window is closed;
# the first one keeps running and ends normally.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
make_private_home

on_virtual_display bash -c '
  source "$3/lib.sh"
  "$1" >"$2/first.log" 2>&1 &
  first=$!
  need_window "TarviVideo5X1.0 connected to" 300 "the first instance did not come up" $first
  "$1" >"$2/second.log" 2>&1 &
  second=$!
  need_window "KORVANE - Error" 150 "no error window" $first $second
  if [ "$(xwininfo -root -tree | grep -cF "connected to")" -ne 1 ]; then
    echo "FAIL: a second main window"; kill -KILL $first $second; exit 93
  fi
  stop_program $second 100  # closes the error window like its close box
  s=$?
  [ $s -eq 1 ] || { echo "FAIL: second instance status $s"; kill -KILL $first; exit 95; }
  kill -0 $first || { echo "FAIL: the first instance ended"; exit 96; }
  stop_program $first 300
' _ "$exe" "$work" "$here"
status=$?
cat "$work"/*.log 2>/dev/null
exit $status
