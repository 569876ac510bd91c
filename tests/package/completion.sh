#!/usr/bin/env bash
# Completes command lines with scripts/completion as bash would at the end
# of each line, against worlds lodecast-mkworld writes.
#   completion.sh <source dir> <folder of lodecast-census> <lodecast-mkworld>
# Not -e: a completion function's last test may well be false.
set -uo pipefail
# shellcheck source=/dev/null
source "$1/scripts/completion/lodecast.bash"
PATH=$2:$PATH
dir=$(mktemp -d "${TMPDIR:-/tmp}/completion.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$3" --sectioned "$dir/s" 2 2>/dev/null && "$3" --paletted "$dir/p" 2 2>/dev/null || exit 1
failed=0
while IFS='|' read -r function line want; do
    COMP_LINE=${line//@/$dir} COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "$function"
    [ "${COMPREPLY[*]}" = "$want" ] || { echo "[$line]: got [${COMPREPLY[*]}], want [$want]" && failed=1; }
done <<'TABLE'
_lodecast|lodecast @/s lod|lodecast:ruby_ore lodecast:tin_ore
_lodecast|lodecast @/p 16,minecraft:deepslate_d|deepslate_diamond_ore
_lodecast|lodecast @/p 16 -deep minecraft:deepslate_i|deepslate_iron_ore
_lodecast|lodecast @/s 16 -reco|-record -record-adopt
_lodecast|lodecast @/s 16 -bb 1 2 |
_lodecast_census|lodecast-census @/s coal lodecast:t|tin_ore
_lodecast_census|lodecast-census --n|--names
_lodecast_mkworld|lodecast-mkworld --compression |lz4 zlib none
_lodecast_nbtdump|nbtdump --v|--version
TABLE
exit $failed
