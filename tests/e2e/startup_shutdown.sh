#!/usr/bin/env bash
# Starts the program with the simulated camera, waits for the connected main window,
# closes it with SIGTERM (handled like the close box) and checks the exit status and the
# four stored settings.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
make_private_home
store_settings 007 "$work/moon"

on_virtual_display bash -c '
  source "$3/lib.sh"
  "$1" >"$2/out.log" 2>&1 &
  pid=$!
  need_window "TarviVideo5X1.0 connected to SimCam" 300 \
    "the connected main window did not appear" $pid
  stop_program $pid 300
' _ "$exe" "$work" "$here"
status=$?
cat "$work/out.log" 2>/dev/null
if [ $status -ne 0 ]; then echo "FAIL: exit status $status"; exit 1; fi

fail=0
expect_setting EXPOLENGTH 40
expect_setting EXPOCOUNT 7
expect_setting FILENAME "$work/moon"
expect_setting GAIN 33
exit $fail
