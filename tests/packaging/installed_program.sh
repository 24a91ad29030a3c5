#!/usr/bin/env bash
# Installs the build into a temporary prefix, validates the desktop entry and the metainfo,
# then starts the installed executable under a virtual display with no library path set:
# it must load the camera library from its own private folder and open the simulated
# camera (the connected main window appears, with the installed icon), and end with
# status 0 on SIGTERM.
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
make_private_home
prefix=$work/prefix
fail=0
problem() { echo "FAIL: $*"; fail=1; }

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1
fi
exe=$prefix/bin/TarviVideo5X
camera=$(find "$prefix" -name libtarvidll.so -print -quit)
[ -x "$exe" ] || problem "no executable in bin"
[ -n "$camera" ] || { problem "no camera library installed"; exit 1; }
for lib in libtarvidll-sim.so libtarvidll-ser.so; do
  [ -f "$(dirname "$camera")/$lib" ] || problem "$lib not beside libtarvidll.so"
done
[ "$(dirname "$camera")" != "$prefix/bin" ] || problem "camera library beside the executable"
for f in share/icons/hicolor/scalable/apps/io.github.tarvivideo5x.TarviVideo5X.svg \
         share/icons/hicolor/{48x48,128x128,256x256}/apps/io.github.tarvivideo5x.TarviVideo5X.png \
         share/doc/tarvivideo5x/README.md share/doc/tarvivideo5x/LICENSE; do
  [ -s "$prefix/$f" ] || problem "$f missing"
done
desktop=$prefix/share/applications/io.github.tarvivideo5x.TarviVideo5X.desktop
metainfo=$prefix/share/metainfo/io.github.tarvivideo5x.TarviVideo5X.metainfo.xml
desktop-file-validate "$desktop" || problem "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || problem "appstreamcli validate"

export HOME=$work/home XDG_DATA_DIRS=$prefix/share:/usr/share
mkdir -p "$HOME"
unset LD_LIBRARY_PATH
on_virtual_display bash -c '
  source "$3/../e2e/lib.sh"
  "$1" >"$2/out.log" 2>&1 &
  pid=$!
  need_window "connected to SimCam" 300 "the connected main window did not appear" $pid
  # The window icon comes from the installed icon theme.
  win=$(xwininfo -root -tree | grep -F "connected to SimCam" | awk "{print \$1}" | head -n 1)
  if ! xprop -id "$win" _NET_WM_ICON | grep -q "Icon ("; then
    echo "FAIL: the main window has no icon"; kill -KILL $pid; exit 94
  fi
  if ! grep -qF "$4" "/proc/$pid/maps"; then
    echo "FAIL: the camera library in use is not $4:"; grep tarvidll "/proc/$pid/maps"
    kill -KILL $pid; exit 93
  fi
  stop_program $pid 300
' _ "$exe" "$work" "$here" "$camera"
status=$?
cat "$work/out.log" 2>/dev/null
[ $status -eq 0 ] || problem "the installed program: exit status $status"
[ -f "$ini" ] || problem "no settings file in the configuration folder"
exit $fail
