#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and checks what lands there:
# every program and page, the library under its own name with the right
# soname, and of nbt/ exactly the public headers, each usable on its own.
#   install_tree.sh <build dir> <source dir> <public header>...
set -euo pipefail
build=$1 source=$2
shift 2
root=$(mktemp -d "${TMPDIR:-/tmp}/install-tree.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() {
    echo "install tree: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$root" >/dev/null
for p in lodecast lodecast-census lodecast-mkworld nbtdump; do
    [ -x "$root/bin/$p" ] || fail "no program bin/$p"
    gzip -t "$root/share/man/man1/$p.1.gz" || fail "no page $p.1.gz"
    [ -f "$root/share/bash-completion/completions/$p" ] || fail "no completion for $p"
done
[ -f "$root/share/doc/lodecast/README.md" ] || fail "no README"

lib=$(dirname "$(find "$root" -name liblodecast-nbt.a)")
[ -f "$lib/liblodecast-nbt.a" ] || fail "no static library"
soname=$(objdump -p "$lib/liblodecast-nbt.so" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = liblodecast-nbt.so.0 ] || fail "soname is '$soname'"
grep -qx "prefix=$root" "$lib/pkgconfig/lodecast-nbt.pc" || fail "pkg-config file names another prefix"
[ -f "$lib/cmake/lodecast-nbt/lodecast-nbt-config.cmake" ] || fail "no CMake package"

inc=$root/include/lodecast-nbt
for h in "$inc"/nbt/*; do
    name=$(basename "$h")
    [[ " $* " == *" $name "* ]] || fail "private header installed: $name"
    lang=c
    [[ $name == *.hpp ]] && lang=c++
    ${CC:-cc} -fsyntax-only -x "$lang" -I"$inc" "$h" || fail "$name does not compile alone"
done
for name in "$@"; do
    if [ -f "$source/nbt/$name" ] && [ ! -f "$inc/nbt/$name" ]; then
        fail "public header not installed: $name"
    fi
done
