#!/usr/bin/env bash
# Builds the Debian package of Velkaro and checks it the way a user's
# machine would meet it:
#   bash scripts/package.sh [BUILD_DIR]            build, lintian, try it out
#   bash scripts/package.sh --install [BUILD_DIR]  the same, then install it
# A release build without the tests (RelWithDebInfo, stripped by cpack),
# `cpack -G DEB`, `lintian --fail-on error`, then the package unpacked into
# a scratch root: its velkaro-send must run, a dry run of a Japanese text
# must work, the program folder must get the default sounds and the
# address book, and nothing may be written next to the unpacked binaries.
# Prints the path of the .deb last.
set -euo pipefail
cd "$(dirname "$0")/.."

install=0
build=build-package
for arg in "$@"; do
  case "$arg" in
    --install) install=1 ;;
    -h | --help)
      sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "package.sh: unknown option $arg" >&2
      exit 2
      ;;
    *) build=$arg ;;
  esac
done

launcher=()
if command -v ccache >/dev/null 2>&1; then
  # Shared with scripts/test.sh's build of the same sources: relative paths
  # and no build folder in the hash, so the second build is mostly hits.
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_BUILD_TESTS=OFF \
  -DVELKARO_WERROR=ON "${launcher[@]}"
cmake --build "$build"
rm -f "$build"/velkaro_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/velkaro_*.deb)
deb=$(cd "$(dirname "${debs[0]}")" && pwd)/$(basename "${debs[0]}")

echo "== lintian $deb"
lintian_out=$(lintian --fail-on error "$deb") && lintian_rc=0 || lintian_rc=$?
[ -z "$lintian_out" ] || echo "$lintian_out"
echo "lintian: $(grep -c '^E:' <<<"$lintian_out" || true) errors," \
  "$(grep -c '^W:' <<<"$lintian_out" || true) warnings"
if [ "$lintian_rc" -ne 0 ]; then
  echo "package.sh: lintian found errors in $deb" >&2
  exit 1
fi

echo "== the unpacked package"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
home=$scratch/home
dpkg -x "$deb" "$root"
send=$root/usr/bin/velkaro-send
before=$(cd "$root" && find . | sort)
"$send" --version
printf '%s\r\n' 'ご案内' '((name)) 様' '' '来月の会合のご案内です。' >"$scratch/案内.txt"
VELKARO_HOME=$home "$send" --dry-run --text "$scratch/案内.txt" \
  --to '山田 太郎 <yamada@example.jp>' >"$scratch/dry-run.txt"
grep -q 'yamada@example.jp' "$scratch/dry-run.txt" || {
  cat "$scratch/dry-run.txt"
  echo "package.sh: the dry run does not show the recipient" >&2
  exit 1
}
after=$(cd "$root" && find . | sort)
if [ "$before" != "$after" ]; then
  diff <(echo "$before") <(echo "$after") || true
  echo "package.sh: the unpacked program wrote files next to itself" >&2
  exit 1
fi
for file in NormalEnd.wav ErrorEnd.wav OneMail.wav Develop.wav VelkaroAddress.txt; do
  [ -s "$home/$file" ] || {
    echo "package.sh: the new program folder has no $file" >&2
    exit 1
  }
done
echo "dry run from the package: ok (program folder $home: sounds and address book written)"

if [ "$install" = 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "package.sh: --install needs root" >&2
    exit 1
  fi
  apt-get install -y "$deb"
fi
echo "$deb"
