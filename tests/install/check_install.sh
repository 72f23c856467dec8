#!/usr/bin/env bash
# Installs the build tree into a scratch DESTDIR and checks what another
# program and a desktop get from it: the files, the CMake package and the
# pkg-config file (by building and running the example against each), the
# WIF MIME type, and the thumbnailer.
#   check_install.sh BUILD_DIR SOURCE_DIR SANITIZE(ON|OFF)
set -euo pipefail
build=$1 source=$2 sanitize=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dest=$work/root
prefix=/usr/local
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >/dev/null
root=$dest$prefix
libdir=$(dirname "$(find "$root" -name liblunark.a | head -n 1)")
[ -n "$libdir" ] || fail "liblunark.a not installed"

for f in bin/lunark include/lunark/engine/image.h include/lunark/formats/rwimage.h \
         share/applications/lunark-viewer.desktop share/mime/packages/lunark-wif.xml \
         share/thumbnailers/lunark.thumbnailer share/icons/hicolor/scalable/apps/lunark.svg \
         share/man/man1/lunark.1; do
  [ -e "$root/$f" ] || fail "$f not installed"
done
[ -e "$libdir/cmake/Lunark/LunarkConfig.cmake" ] || fail "CMake package not installed"
[ -e "$libdir/pkgconfig/lunark.pc" ] || fail "pkg-config file not installed"
ls "$libdir"/liblunark.so* >/dev/null 2>&1 || fail "shared library not installed"
if [ -e "$build/app/lunark-viewer" ]; then
  [ -e "$root/bin/lunark-viewer" ] || fail "lunark-viewer not installed"
  [ -e "$root/share/man/man1/lunark-viewer.1" ] || fail "lunark-viewer.1 not installed"
  grep -q "lunark-viewer" "$root/share/man/man1/lunark-viewer.1" || fail "lunark-viewer.1 is empty"
  exec_line=$(sed -n 's/^Exec=//p' "$root/share/applications/lunark-viewer.desktop")
  [ "${exec_line%% *}" = lunark-viewer ] || fail "the desktop entry does not start lunark-viewer: $exec_line"
fi
grep -q "convert" "$root/share/man/man1/lunark.1" || fail "lunark.1 does not describe convert"
desktop-file-validate "$root/share/applications/lunark-viewer.desktop" || fail "invalid .desktop entry"

flags=()
if [ "$sanitize" = ON ]; then flags=(-fsanitize=address,undefined); fi
export ASAN_OPTIONS=detect_leaks=0
export LD_LIBRARY_PATH=$libdir
sample=$source/tests/data/camera.pgm

# The CMake package.
cmake -S "$source/examples" -B "$work/cmake-example" -G Ninja -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_CXX_FLAGS="${flags[*]:-}" -DCMAKE_EXE_LINKER_FLAGS="${flags[*]:-}" >/dev/null
cmake --build "$work/cmake-example" >/dev/null
"$work/cmake-example/lunark_example" "$sample" "$work/a.wif" 30 | grep -q "512x512, 8 bits" \
  || fail "the example built with find_package(Lunark) did not work"

# The pkg-config file.
export PKG_CONFIG_PATH=$libdir/pkgconfig
c++ -std=c++20 "${flags[@]}" "$source/examples/lunark_example.cpp" -o "$work/pc-example" \
  $(pkg-config --define-prefix --cflags --libs lunark)
"$work/pc-example" "$sample" "$work/b.wif" 30 | grep -q "512x512, 8 bits" \
  || fail "the example built with pkg-config did not work"

# The MIME type, by name and by content.
mkdir -p "$work/share/mime/packages"
cp "$root/share/mime/packages/lunark-wif.xml" "$work/share/mime/packages/"
update-mime-database "$work/share/mime" >/dev/null 2>&1
export XDG_DATA_DIRS=$work/share:/usr/share
[ "$(xdg-mime query filetype "$work/a.wif")" = image/x-wif ] || fail "xdg-mime does not name x.wif"
cp "$work/a.wif" "$work/noextension"
[ "$(xdg-mime query filetype "$work/noextension")" = image/x-wif ] || fail "WIF magic not recognised"

# The thumbnailer, run as a file manager would.
exec_line=$(sed -n 's/^Exec=//p' "$root/share/thumbnailers/lunark.thumbnailer")
cmd=${exec_line//%i/$work/a.wif}
cmd=${cmd//%o/$work/thumb.png}
cmd=${cmd//%s/128}
PATH=$root/bin:$PATH $cmd || fail "the thumbnailer failed"
[ "$(identify -format '%m %w %h' "$work/thumb.png")" = "PNG 128 128" ] || fail "thumbnail has the wrong size"
echo "install check passed"
