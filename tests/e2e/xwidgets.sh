# Helpers that find and drive the program's widgets on the virtual display; sourced by the
# end-to-end scripts. The program runs with QT_USE_NATIVE_WINDOWS=1, so each widget is an
# X window of its own once it has been shown, and the X server tells its place, size and
# whether it is mapped. Clicks go to points inside those windows; no screen position is
# guessed. Qt maps a native widget with a round trip in show() and flushes the unmap in
# hide(), so the map state seen here is the widget's visibility.

# Runs "$@" until it succeeds; false after $1 seconds (wall clock, however slow each try).
poll() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  while :; do
    "$@" && return 0
    ((SECONDS >= end)) && return 1
    sleep 0.1
  done
}

# The child windows of $1, topmost first, as "id WxH+X+Y" lines.
x_children() {
  xwininfo -children -id "$1" 2>/dev/null | awk '
    /^ +0x[0-9a-f]+ / {
      for (i = 2; i <= NF; i++)
        if ($i ~ /^[0-9]+x[0-9]+[+-][0-9]+[+-][0-9]+$/) { print $1, $i; break }
    }'
}

# Every window below $1 (any depth), as "id WxH+X+Y" lines.
x_descendants() {
  xwininfo -tree -id "$1" 2>/dev/null | awk '
    /^ +0x[0-9a-f]+ / {
      for (i = 2; i <= NF; i++)
        if ($i ~ /^[0-9]+x[0-9]+[+-][0-9]+[+-][0-9]+$/) { print $1, $i; break }
    }'
}

x_viewable() {
  xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# "X Y W H" of window $1 on the screen.
x_rect() {
  xwininfo -id "$1" 2>/dev/null | awk '
    /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF }
    END { if (w != "") print x, y, w, h }'
}

# The top-level window whose name contains $1 (the first one found).
x_toplevel() {
  xwininfo -root -children 2>/dev/null | awk -v name="$1" '
    /^ +0x[0-9a-f]+ / && index($0, name) { print $1; exit }'
}

# The mapped children of $1, one id a line.
x_mapped_children() {
  local id rest
  x_children "$1" | while read -r id rest; do
    x_viewable "$id" && echo "$id"
  done
}

# Mapped override-redirect top-level windows (pop-up menus, tooltips), one id a line.
x_popups() {
  local id rest
  x_children "$(xwininfo -root | awk '/Window id:/ { print $4; exit }')" |
    while read -r id rest; do
      xwininfo -id "$id" 2>/dev/null |
        grep -q 'Override Redirect State: yes' && x_viewable "$id" && echo "$id"
    done
}

# Presses mouse button $2 in the middle of window $1.
x_click() {
  local rect
  rect=$(x_rect "$1") || return 1
  [ -n "$rect" ] || return 1
  set -- "$1" "$2" $rect
  xdotool mousemove "$(($3 + $5 / 2))" "$(($4 + $6 / 2))" click "$2"
}

# Moves the pointer to the bottom right corner of the screen, away from every widget: no
# tooltip opens and no hover state is left behind.
x_park_pointer() {
  local size
  size=$(xwininfo -root | awk '/Width:/ { w = $NF } /Height:/ { h = $NF } END { print w, h }')
  set -- $size
  xdotool mousemove "$(($1 - 1))" "$(($2 - 1))"
}

# Clicks item $2 (from 0) of the $3 equally high items of the pop-up menu window $1.
x_click_menu_item() {
  local rect
  rect=$(x_rect "$1") || return 1
  [ -n "$rect" ] || return 1
  set -- "$1" "$2" "$3" $rect
  xdotool mousemove "$(($4 + $6 / 2))" "$(($5 + $7 * (2 * $2 + 1) / (2 * $3)))" click 1
}

# ---- the program's own windows. These use the script's $exe and $work, and its fail()
# for what ends the script.

# Starts the program ($exe, with the arguments after $1) with its output in $work/$1.log; sets $pid, and $main to its
# connected main window once that is in view. The program does not outlive the script.
start_program() {
  QT_USE_NATIVE_WINDOWS=1 "$exe" "${@:2}" >"$work/$1.log" 2>&1 &
  pid=$!
  trap 'kill -0 $pid 2>/dev/null && kill -KILL $pid' EXIT
  main_window_up() {
    kill -0 $pid 2>/dev/null || fail "the program ended at start-up"
    main=$(x_toplevel " connected to ")
    [ -n "$main" ] && x_viewable "$main"
  }
  poll 40 main_window_up || fail "the connected main window did not appear"
}

# The capture buttons share one place of 165 x 35 pixels in the left column of $main: the
# window of that size that holds children of the same size at its origin. Sets $place.
find_button_place() {
  local id geometry
  while read -r id geometry; do
    case $geometry in 165x35+0+0 | 165x35-*) continue ;; 165x35+*) ;; *) continue ;; esac
    if x_children "$id" | grep -q ' 165x35+0+0$'; then
      place=$id
      return 0
    fi
  done < <(x_descendants "$main")
  return 1
}

# The one capture button in view in $place while nothing records (the cancel button
# hidden); sets $button.
shown_button() {
  local mapped
  mapped=$(x_mapped_children "$place")
  [ "$(wc -l <<<"$mapped")" -eq 1 ] && [ -n "$mapped" ] && button=$mapped
}

# Exactly one pop-up window open; sets $popup to it.
one_popup() {
  popup=$(x_popups)
  [ -n "$popup" ] && [ "$(wc -l <<<"$popup")" -eq 1 ]
}

# Chooses SER in the capture buttons' pop-up menu of the program's window and waits until the
# video capture button is in view; sets $button to it. Says what failed through fail().
choose_ser() {
  poll 20 find_button_place || fail "no capture button place"
  poll 20 shown_button || fail "no capture button in view"
  local still=$button
  x_click "$still" 3 || fail "cannot right-click the capture button"
  poll 20 one_popup || fail "the format menu did not open"
  x_click_menu_item "$popup" 0 4 || fail "cannot click SER in the format menu"
  x_park_pointer
  video_shown() { shown_button && [ "$button" != "$still" ]; }
  poll 20 video_shown || fail "the video capture button did not come into view"
}
