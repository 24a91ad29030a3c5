#!/usr/bin/env bash
# Starts a copy of the program in a folder without the camera library: the "NO CAMERA!"
# message appears, the main window never does, SIGTERM while the message is shown ends the
# program with status 1, and the settings are still stored.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
make_private_home
mkdir -p "$work/bin"
cp "$exe" "$work/bin/"
unset LD_LIBRARY_PATH

on_virtual_display bash -c '
  source "$3/lib.sh"
  "$1" >"$2/out.log" 2>&1 &
  pid=$!
  # The message box carries the program name as its title (the splash is named
  # "TarviVideo5X1.0"). xwininfo prints a window as 0xID "title": ("instance" "class");
  # the 1x1 leader window of the toolkit also bears the program name, but no class.
  need_window "\"TarviVideo5X\": (\"" 150 "no message box" $pid
  if ! grep -q "libtarvidll.so" "$2/out.log"; then
    echo "FAIL: no report of the missing camera library"; kill -KILL $pid; exit 94
  fi
  if xwininfo -root -tree | grep -qF "connected to"; then
    echo "FAIL: the main window was shown"; kill -KILL $pid; exit 93
  fi
  stop_program $pid 100
  code=$?
  if [ $code -ne 1 ]; then echo "FAIL: exit status $code after SIGTERM, not 1"; exit 95; fi
  exit 0
' _ "$work/bin/$(basename "$exe")" "$work" "$here"
status=$?
cat "$work/out.log" 2>/dev/null
if [ $status -ne 0 ]; then exit 1; fi
fail=0
expect_setting GAIN 10
expect_setting EXPOCOUNT 1
if [ $fail -ne 0 ]; then echo "FAIL: the default settings were not stored"; cat "$ini"; fi
exit $fail
