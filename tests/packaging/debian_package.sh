#!/usr/bin/env bash
# Makes the release build of `make package` (in $2, kept between runs) and packages it twice:
# the two packages must be the same bytes. Then checks the package's fields, maintainer
# scripts and contents, starts its executable from the unpacked tree, checks the hardening
# of the binaries, and runs lintian, which must report neither errors nor warnings.
set -uo pipefail
src=$1
release=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
problem() { echo "FAIL: $*"; fail=1; }

if ! make -C "$src" release RELEASE_BUILD="$release" JOBS=2 >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log"; echo "FAIL: the release build"; exit 1
fi
for run in a b; do
  if ! cpack -G DEB --config "$release/CPackConfig.cmake" -B "$work/$run" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1
  fi
done
deb=$(find "$work/a" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: no package"; exit 1; }
echo "package: $(basename "$deb")"
if ! cmp "$deb" "$work/b/$(basename "$deb")"; then
  problem "two builds of the package differ"
  diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$work/b/$(basename "$deb")")
fi
dpkg-deb --field "$deb"

[ "$(dpkg-deb --field "$deb" Section)" = science ] || problem "section is not science"
dpkg-deb --field "$deb" Maintainer | grep -q '^TarviVideo5X developers <' || problem "maintainer"
# The scan of the shared libraries found the toolkit, image and INDI libraries, each once.
depends=$(dpkg-deb --field "$deb" Depends)
for dep in libqt6widgets6 libopencv-core libc6 libindiclient1 qt6-qpa-plugins; do
  [[ $depends == *"$dep"* ]] || problem "Depends lacks $dep: $depends"
done
twice=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | sort | uniq -d)
[ -z "$twice" ] || problem "Depends names $twice more than once"
# Private libraries need no ldconfig: no maintainer scripts, no triggers.
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'inst$|rm$|triggers$')
[ -z "$scripts" ] || problem "maintainer scripts in the package: $scripts"

dpkg-deb --contents "$deb" | awk '{print $NF}' >"$work/contents"
expect() { grep -qE "$1" "$work/contents" || problem "package lacks $1"; }
expect '^\./usr/bin/TarviVideo5X$'
for lib in libtarvidll libtarvidll-sim libtarvidll-ser libtarvidll-indi; do
  expect "^\./usr/lib/[^/]+/tarvivideo5x/$lib\.so$"
done
expect '^\./usr/share/man/man1/TarviVideo5X\.1\.gz$'
expect '^\./usr/share/applications/io\.github\.tarvivideo5x\.TarviVideo5X\.desktop$'
expect '^\./usr/share/metainfo/io\.github\.tarvivideo5x\.TarviVideo5X\.metainfo\.xml$'
expect '^\./usr/share/icons/hicolor/scalable/apps/io\.github\.tarvivideo5x\.TarviVideo5X\.svg$'
for size in 48 128 256; do
  expect "^\./usr/share/icons/hicolor/${size}x$size/apps/io\.github\.tarvivideo5x\.TarviVideo5X\.png$"
done
expect '^\./usr/share/doc/tarvivideo5x/copyright$'

# Unpacked, the executable finds the camera libraries of its private folder.
dpkg-deb -x "$deb" "$work/root"
help=$(env -u LD_LIBRARY_PATH "$work/root/usr/bin/TarviVideo5X" --help)
[[ $help == *$'found:\n  indi\n  ser\n  sim'* ]] || problem "the packaged program lists no cameras: $help"

# Hardening: position-independent, read-only relocations bound at start, stack protector and
# fortified functions.
for elf in "$work/root/usr/bin/TarviVideo5X" "$work"/root/usr/lib/*/tarvivideo5x/*.so; do
  name=$(basename "$elf")
  readelf -h "$elf" | grep -q 'Type: *DYN' || problem "$name is not position-independent"
  readelf -l "$elf" | grep -q GNU_RELRO || problem "$name has no RELRO segment"
  readelf -d "$elf" | grep -q 'FLAGS.*BIND_NOW' || problem "$name is not bound at start"
done
syms=$(readelf --dyn-syms -W "$work/root/usr/bin/TarviVideo5X")
grep -q __stack_chk_fail <<<"$syms" || problem "no stack protector in the executable"
grep -qE '__[a-z]+_chk@' <<<"$syms" || problem "no fortified functions in the executable"

lintian --fail-on error,warning "$deb" || problem "lintian reports errors or warnings"
exit $fail
