#!/usr/bin/env bash
# Records a few frames in every format with the real program and the simulated camera,
# driven by synthetic X input on a virtual display: a FIT series, then (switching the
# format through the capture button's pop-up menu) a SER file, a BMP series and an AVI
# file. Then SIGTERM ends the program like the close box. Checks: exit status 0, exactly
# the numbered files expected, each one read back by an independent reader, and the four
# settings stored again.
#
# The controls are found through the X server (xwidgets.sh), with every widget a native
# window: the place of the capture buttons by its fixed size of 165 x 35 pixels, the
# capture and cancel buttons as its children (which one is in view tells the selected
# format and whether a recording runs), the format menu as the one pop-up window that
# opens on the right click. Every wait is a poll with a time limit.
#
#   record_all_formats.sh <executable>
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)

# The simulated camera's sensor; the readout starts at full size.
WIDTH=1280
HEIGHT=960
COUNT=3  # frames per recording, from the stored frame count

source "$here/lib.sh"
if [ "${2:-}" != --drive ]; then
  make_private_home
  out=$work/captures
  mkdir -p "$out"
  store_settings "$COUNT" "$out/moon"

  on_virtual_display bash "$0" "$exe" --drive "$work"
  status=$?
  if [ $status -ne 0 ]; then
    echo "--- program output"
    cat "$work/program.log" 2>/dev/null
    echo "FAIL: status $status"
    exit 1
  fi

  fail=0
  expected=$(
    for ((i = 0; i < COUNT; i++)); do printf 'moon_%05d.FIT\nmoon_%05d.BMP\n' $i $i; done
    printf 'moon_00000.SER\nmoon_00001-PART1.AVI\n'
    # A capture log beside each of the four recordings, named after it with its extension.
    printf 'moon_00000.FIT.txt\nmoon_00000.BMP.txt\nmoon_00000.SER.txt\nmoon_00001.AVI.txt\n'
    # The seeing figures beside the SER and the AVI recording, which take their number.
    printf 'moon_00000.quality.csv\nmoon_00001.quality.csv\n'
  )
  found=$(ls -A "$out")
  if [ "$(sort <<<"$found")" != "$(sort <<<"$expected")" ]; then
    echo "FAIL: the capture folder holds"
    echo "$found"
    echo "expected"
    echo "$expected"
    fail=1
  fi
  checker="/usr/bin/python3 $here/check_recording.py"
  $checker ser "$out/moon_00000.SER" $WIDTH $HEIGHT $COUNT 40 || fail=1
  $checker avi "$out/moon_00001-PART1.AVI" $WIDTH $HEIGHT $COUNT || fail=1
  $checker quality "$out/moon_00000.SER" $COUNT || fail=1
  $checker quality "$out/moon_00001-PART1.AVI" $COUNT || fail=1
  for ((i = 0; i < COUNT; i++)); do
    $checker fits "$(printf '%s/moon_%05d.FIT' "$out" $i)" $WIDTH $HEIGHT || fail=1
    $checker bmp "$(printf '%s/moon_%05d.BMP' "$out" $i)" $WIDTH $HEIGHT || fail=1
  done

  expect_setting EXPOLENGTH 40
  expect_setting EXPOCOUNT "$COUNT"
  expect_setting FILENAME "$out/moon"
  expect_setting GAIN 33
  # The codec probe's round trips stay quiet: nothing that reads like a fault.
  if grep -F "Invalid buffer size" "$work/program.log"; then
    echo "FAIL: the program logged a video library complaint"
    fail=1
  fi
  if [ $fail -ne 0 ]; then
    echo "FAIL: the recorded files or the stored settings are wrong"
    exit 1
  fi
  echo "PASS"
  exit 0
fi

# ---- inside the virtual display
work=$3
out=$work/captures
source "$here/xwidgets.sh"

fail() {
  echo "FAIL: $*"
  echo "--- capture folder:"
  ls -l "$out"
  echo "--- top-level windows:"
  xwininfo -root -children | grep '^ *0x'
  exit 1
}

start_program program
poll 20 find_button_place || fail "no capture button place in the main window"

files_exist() {
  local f
  for f in "$@"; do [ -f "$out/$f" ] || return 1; done
}

# A SER file is finished when its header holds the frame count (written on closing).
ser_closed() {
  [ "$(u32_at "$out/$1" 38)" = "$2" ]
}

# An AVI file is finished when the size of its RIFF chunk covers the whole file (the
# video library writes it on closing).
avi_closed() {
  local size riff
  size=$(stat -c %s "$out/$1" 2>/dev/null) || return 1
  riff=$(u32_at "$out/$1" 4)
  [ -n "$riff" ] && [ $((riff + 8)) -eq "$size" ]
}

# Clicks the capture button $1 and waits until the recording is over: the check "$@"
# after $1 finds the output finished and the cancel button is hidden again.
record() {
  local start=$1 what=$2
  shift 2
  x_click "$start" 1 || fail "$what: cannot click the capture button"
  x_park_pointer
  poll 30 "$@" || fail "$what: the output was not finished"
  poll 30 shown_button || fail "$what: the cancel button stays in view"
  [ "$button" = "$start" ] || fail "$what: another capture button in view afterwards"
}

# Chooses item $2 ("    SER", "    AVI", "    FIT", "    BMP") of the format pop-up menu of
# capture button $1, and waits until the capture button in view is ($3 = is) or is not
# ($3 = not) window $4; sets $button to it. The menu closes before the choice takes
# effect, so the button in view is awaited, not merely read.
choose_format() {
  local what=$5 popup
  x_click "$1" 3 || fail "$what: cannot right-click the capture button"
  poll 20 one_popup || fail "$what: the format menu did not open"
  x_click_menu_item "$popup" "$2" 4 || fail "$what: cannot click the format menu"
  x_park_pointer
  popup_closed() { ! x_viewable "$popup"; }
  poll 20 popup_closed || fail "$what: the format menu stays open"
  button_as_expected() {
    shown_button || return 1
    if [ "$3" = is ]; then [ "$button" = "$4" ]; else [ "$button" != "$4" ]; fi
  }
  poll 20 button_as_expected "$@" ||
    fail "$what chosen, but the capture button in view is not its own"
}

SER=0 AVI=1 BMP=3

# FIT is the format at start: the still capture button is the one in view.
poll 20 shown_button || fail "no capture button in view at start"
still=$button
fits=() bmps=()
for ((i = 0; i < COUNT; i++)); do
  fits+=("$(printf 'moon_%05d.FIT' $i)")
  bmps+=("$(printf 'moon_%05d.BMP' $i)")
done
record "$still" FIT files_exist "${fits[@]}"

choose_format "$still" $SER not "$still" SER
video=$button
record "$video" SER ser_closed moon_00000.SER "$COUNT"

choose_format "$video" $BMP is "$still" BMP
record "$still" BMP files_exist "${bmps[@]}"

choose_format "$still" $AVI is "$video" AVI
record "$video" AVI avi_closed moon_00001-PART1.AVI

# SIGTERM closes the program like the close box: settings stored, exit status 0.
stop_program $pid 300 || fail "exit status $?"
exit 0
