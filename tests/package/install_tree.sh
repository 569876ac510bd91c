#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what lands there.
#   install_tree.sh <build dir> <source dir>
set -euo pipefail
build=$1 source=$2
shift 2
root=$(mktemp -d "${TMPDIR:-/tmp}/install-tree.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "install tree: $*" >&2 && exit 1; }

cmake --install "$build" --prefix "$root" >/dev/null
for p in lodecast lodecast-census lodecast-mkworld nbtdump lodecast-restore; do
    [ -x "$root/bin/$p" ] && [ -f "$root/share/bash-completion/completions/$p" ] || fail "$p"
    gzip -t "$root/share/man/man1/$p.1.gz" || fail "no page $p.1.gz"
done
[ -f "$root/share/doc/lodecast/README.md" ] || fail "no README"
lib=$(dirname "$(find "$root" -name liblodecast-nbt.a)")
objdump -p "$lib/liblodecast-nbt.so" | grep -q 'SONAME *liblodecast-nbt\.so\.0$' || fail "soname"
grep -qx "prefix=$root" "$lib/pkgconfig/lodecast-nbt.pc" || fail "pkg-config prefix"
[ -f "$lib/cmake/lodecast-nbt/lodecast-nbt-config.cmake" ] || fail "no CMake package"

# Exactly the documented symbols and the public headers, each header usable
# on its own.
"$source/scripts/check-library" "$root" >/dev/null
inc=$root/include/lodecast-nbt
for h in "$inc"/nbt/*; do
    ${CC:-cc} -fsyntax-only -x "$([[ $h == *.hpp ]] && echo c++ || echo c)" -I"$inc" "$h"
done
