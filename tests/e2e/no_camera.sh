#!/usr/bin/env bash
# Starts a copy of the program in a folder without the camera library: the "NO CAMERA!"
# message appears, the main window never does, SIGTERM while the message is shown ends the
# program with status 1, and the settings are still stored.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
cp "$exe" "$work/bin/"
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
export XDG_RUNTIME_DIR=$work/run  # the instance lock of this run only
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset LD_LIBRARY_PATH
ini=$XDG_CONFIG_HOME/TarviVideo5X/TarviVideo5X.ini

xvfb-run -a -s "-screen 0 1400x900x24" bash -c '
  source "$3/lib.sh"
  "$1" >"$2/out.log" 2>&1 &
  pid=$!
  # The message box carries the program name as its title (the splash is named
  # "TarviVideo5X1.0"). xwininfo prints a window as 0xID "title": ("instance" "class");
  # the 1x1 leader window of the toolkit also bears the program name, but no class.
  if ! wait_window "\"TarviVideo5X\": (\"" 150; then
    echo "FAIL: no message box"; kill -KILL $pid; exit 91
  fi
  if ! grep -q "libtarvidll.so" "$2/out.log"; then
    echo "FAIL: no report of the missing camera library"; kill -KILL $pid; exit 94
  fi
  if xwininfo -root -tree | grep -qF "connected to"; then
    echo "FAIL: the main window was shown"; kill -KILL $pid; exit 93
  fi
  kill -TERM $pid
  if ! wait_exit $pid 100; then echo "FAIL: the program did not end"; exit 92; fi
  wait $pid
  code=$?
  if [ $code -ne 1 ]; then echo "FAIL: exit status $code after SIGTERM, not 1"; exit 95; fi
  exit 0
' _ "$work/bin/$(basename "$exe")" "$work" "$here"
status=$?
cat "$work/out.log" 2>/dev/null
if [ $status -ne 0 ]; then exit 1; fi
source "$here/lib.sh"
if [ "$(ini_value "$ini" GAIN)" != 10 ] || [ "$(ini_value "$ini" EXPOCOUNT)" != 1 ]; then
  echo "FAIL: the default settings were not stored"; cat "$ini"; exit 1
fi
