# Helpers of the end-to-end scripts.

# A private home for one run of the program in a new temporary folder $work, removed on exit:
# configuration, state and instance lock of this run only. $ini is its settings file.
make_private_home() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
  export XDG_RUNTIME_DIR=$work/run
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  ini=$XDG_CONFIG_HOME/TarviVideo5X/TarviVideo5X.ini
}

# Stores the four settings before the program starts: exposure 40 ms, frame count $1 (as
# written), file name $2, gain 33.
store_settings() {
  mkdir -p "$(dirname "$ini")"
  printf '[TarviVideo2R]\nEXPOLENGTH=40\nEXPOCOUNT=%s\nFILENAME=%s\nGAIN=33\n' "$1" "$2" >"$ini"
}

# Runs "$@" on a virtual X display of its own. The server picks a free display number itself
# (-displayfd), so that runs started at the same moment never race for one; it is stopped by
# its PID afterwards.
on_virtual_display() {
  local dir xpid num status
  dir=$(mktemp -d)
  # -noreset: a program started just after the last one ended must find the server up.
  Xvfb -displayfd 3 -screen 0 1400x900x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
  xpid=$!
  for _ in $(seq 200); do
    [ -s "$dir/display" ] && break
    sleep 0.05
  done
  num=$(head -n 1 "$dir/display")
  if [ -z "$num" ]; then
    echo "FAIL: no virtual display"; cat "$dir/xvfb.log"
    kill "$xpid" 2>/dev/null; rm -rf "$dir"; return 90
  fi
  DISPLAY=:$num "$@"
  status=$?
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
  rm -rf "$dir"
  return $status
}

# The value of key $2 in the INI file $1 ("" when absent).
ini_value() {
  sed -n "s/^$2=//p" "$1" | head -n 1
}

# Says so and sets fail=1 unless the stored setting $1 is $2.
expect_setting() {
  local got
  got=$(ini_value "$ini" "$1")
  [ "$got" = "$2" ] || { echo "FAIL: stored $1 is '$got', expected '$2'"; fail=1; }
}

# The little-endian 32-bit number at byte $2 of file $1.
u32_at() {
  od -An -tu1 -j "$2" -N 4 "$1" 2>/dev/null |
    awk 'NF == 4 { printf "%.0f\n", $1 + 256 * ($2 + 256 * ($3 + 256 * $4)) }'
}

# Waits up to $2 tenths of a second for a top-level window whose name contains $1; without
# it, says "FAIL: $3", kills the processes $4... and ends the script with status 91.
need_window() {
  local i
  for ((i = 0; i < $2; i++)); do
    if xwininfo -root -tree | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  echo "FAIL: $3"
  kill -KILL "${@:4}" 2>/dev/null
  exit 91
}

# Waits up to $2 tenths of a second for process $1 to end; kills it when it does not.
wait_exit() {
  local i
  for ((i = 0; i < $2; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  return 1
}

# Sends SIGTERM to the child process $1 (the program takes it like its close box) and waits
# up to $2 tenths of a second for its end. Returns its exit status, or 124 when it had to be
# killed.
stop_program() {
  kill -TERM "$1"
  wait_exit "$1" "$2" || { echo "FAIL: process $1 did not end after SIGTERM"; return 124; }
  wait "$1"
}
