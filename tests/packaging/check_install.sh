#!/bin/sh
# Installs a build into a scratch root (as cpack does for the package) and
# checks that every file lands where the desktop, man and AppStream expect it.
#   check_install.sh BUILD_DIR SCRATCH_ROOT
set -eu
build=$1
root=$2
rm -rf "$root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
missing=0
expect() {
  if [ ! -s "$root/usr/$1" ]; then
    echo "missing: /usr/$1"
    missing=1
  fi
}
expect bin/velkaro-send
expect share/man/man1/velkaro-send.1.gz
expect share/doc/velkaro/copyright
expect share/doc/velkaro/changelog.Debian.gz
if [ -e "$build/src/ui/velkaro" ]; then
  expect bin/velkaro
  expect share/man/man1/velkaro.1.gz
  expect share/applications/velkaro.desktop
  expect share/metainfo/jp.velkaro.Velkaro.metainfo.xml
  expect share/icons/hicolor/scalable/apps/velkaro.svg
  for size in 16 24 32 48 64 128 256; do
    file="share/icons/hicolor/${size}x${size}/apps/velkaro.png"
    expect "$file"
    # The hicolor theme takes a size folder at its word.
    got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$root/usr/$file" 2>/dev/null || echo none)
    [ "$got" = "${size}x${size}" ] || { echo "$file is $got"; missing=1; }
  done
fi
# gzip -n: no name and no time stamp, so that two builds give the same bytes.
for page in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/doc/velkaro/*.gz; do
  stamp=$(od -An -tu4 -j4 -N4 "$page" | tr -d ' ')
  [ "$stamp" = 0 ] || { echo "$page carries a time stamp"; missing=1; }
done
[ "$missing" = 0 ] && echo "install layout complete"
exit "$missing"
