#!/usr/bin/env bash
# Builds the Debian package of the build with CPack into a temporary folder and checks its
# fields and contents; lintian, when installed, must report no errors.
set -uo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
problem() { echo "FAIL: $*"; fail=1; }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1
fi
deb=$(find "$work" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: no package"; exit 1; }
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb"

[ "$(dpkg-deb --field "$deb" Section)" = science ] || problem "section is not science"
dpkg-deb --field "$deb" Maintainer | grep -q '^TarviVideo5X developers <' || problem "maintainer"
# The scan of the shared libraries found the toolkit and image libraries.
depends=$(dpkg-deb --field "$deb" Depends)
for dep in libqt6widgets6 libopencv-core libc6 qt6-qpa-plugins; do
  [[ $depends == *"$dep"* ]] || problem "Depends lacks $dep: $depends"
done

dpkg-deb --contents "$deb" | awk '{print $NF}' >"$work/contents"
expect() { grep -qE "$1" "$work/contents" || problem "package lacks $1"; }
expect '^\./usr/bin/TarviVideo5X$'
for lib in libtarvidll libtarvidll-sim libtarvidll-ser; do
  expect "^\./usr/lib/.*tarvivideo5x/$lib\.so$"
done
expect '^\./usr/share/applications/io\.github\.tarvivideo5x\.TarviVideo5X\.desktop$'
expect '^\./usr/share/metainfo/io\.github\.tarvivideo5x\.TarviVideo5X\.metainfo\.xml$'
expect '^\./usr/share/icons/hicolor/scalable/apps/io\.github\.tarvivideo5x\.TarviVideo5X\.svg$'
for size in 48 128 256; do
  expect "^\./usr/share/icons/hicolor/${size}x$size/apps/io\.github\.tarvivideo5x\.TarviVideo5X\.png$"
done
expect '^\./usr/share/doc/tarvivideo5x/copyright$'

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" || problem "lintian reports errors"
fi
exit $fail
