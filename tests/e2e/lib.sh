# Helpers of the end-to-end scripts; they run inside the virtual display.

# Waits up to $2 tenths of a second for a top-level window whose name contains $1.
wait_window() {
  local i
  for ((i = 0; i < $2; i++)); do
    if xwininfo -root -tree | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
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

# The value of key $2 in the INI file $1 ("" when absent).
ini_value() {
  sed -n "s/^$2=//p" "$1" | head -n 1
}
