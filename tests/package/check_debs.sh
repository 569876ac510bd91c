#!/usr/bin/env bash
# Checks the Debian packages scripts/package built: control fields, lintian,
# then their programs, manual pages and library used from a temporary root.
#   check_debs.sh <package.deb>...
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "check debs: $*" >&2 && exit 1; }

version=$(sed -n 's/^project(lodecast VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)
[ "$(dpkg-parsechangelog -S Version)" = "$version" ] || fail "debian/changelog is not at $version"
declare -A deb
for d in "$@"; do deb[$(dpkg-deb -f "$d" Package)]=$d; done
for p in lodecast liblodecast-nbt0 liblodecast-nbt-dev; do
    [ "$(dpkg-deb -f "${deb[$p]:-/dev/null}" Version)" = "$version" ] || fail "$p $version"
done
field() { dpkg-deb -f "${deb[$1]}" "$2"; }
field lodecast Depends | grep -q 'libc6 (>=' || fail "lodecast Depends"
field liblodecast-nbt-dev Depends | grep -q "liblodecast-nbt0 (= $version)" || fail "dev Depends"
field liblodecast-nbt-dev Depends | grep -q 'zlib1g-dev' || fail "dev without zlib1g-dev"
# The library's package is named after its soname and runs ldconfig.
dpkg-deb -I "${deb[liblodecast-nbt0]}" shlibs | grep -qx 'liblodecast-nbt 0 liblodecast-nbt0.*' ||
    fail "shlibs"
dpkg-deb -I "${deb[liblodecast-nbt0]}" triggers | grep -q 'ldconfig' || fail "no ldconfig trigger"
lintian --fail-on error,warning "$@" || fail "lintian"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for d in "$@"; do dpkg-deb -x "$d" "$root"; done
# The library as packaged: only the documented symbols, only the public headers.
scripts/check-library "$root" >/dev/null
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
export LD_LIBRARY_PATH=$root/usr/lib/$multiarch
bin=$root/usr/bin
"$bin/lodecast" --version | head -n 1 | grep -qx 'lodecast [0-9.]*' || fail "--version"
"$bin/lodecast" --version | grep -qx 'compression: libdeflate and zlib' || fail "compression"
"$bin/lodecast-mkworld" "$root/world" 2 2>/dev/null
"$bin/lodecast-census" "$root/world" coal | grep -q '4 chunks counted' || fail "census"
# Every option lodecast reads is in its manual page and its --help.
page=$(zcat "$root/usr/share/man/man1/lodecast.1.gz" | sed 's/\\-/-/g')
help=$("$bin/lodecast" --help)
for opt in $(grep -o '^ *{"-[a-z-]*"' lodecast/run/cli.cpp | tr -d ' {"'); do
    grep -qE -- "^\.B[IR]* $opt( |$)" <<<"$page" || fail "lodecast(1) lacks $opt"
    grep -qE -- "(^| |/)$opt( |/|$)" <<<"$help" || fail "lodecast --help lacks $opt"
done

# The library from C through pkg-config: shared, then wholly static.
export PKG_CONFIG_PATH=$root/usr/lib/$multiarch/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root
use=tests/package/use_library.c chunk=$root/world/0/0/c.0.0.dat
# shellcheck disable=SC2046 # the flags are separate words
cc -Wall -Wextra -o "$root/shared" $use $(pkg-config --cflags --libs lodecast-nbt)
ldd "$root/shared" | grep -q "$root/usr/lib/$multiarch/liblodecast-nbt.so.0" || fail "not shared"
[ "$("$root/shared" "$chunk")" = "Blocks: 32768" ] || fail "shared library"
# shellcheck disable=SC2046
cc -static -o "$root/static" $use $(pkg-config --static --cflags --libs lodecast-nbt)
[ "$("$root/static" "$chunk")" = "Blocks: 32768" ] || fail "static library"
