# bash completion for lodecast and its tools (installed once per program
# name, as bash-completion looks completions up by command).

# The ore names the world at $1 accepts (the six known ones, then its
# registry's or its palettes' ore blocks), from the census, which reads
# only what it needs to answer at once.
_lodecast_world_ores() {
    local world=${1/#\~/$HOME}
    [[ -d $world ]] && lodecast-census --names "$world" 2>/dev/null
}

# words, cword, cur and prev from the line up to the cursor, split at
# blanks only: bash splits COMP_WORDS at ':' too, which would cut a block
# name (minecraft:coal_ore) into three words.
_lodecast_words() {
    read -ra words <<<"${COMP_LINE:0:COMP_POINT}"
    [[ ${COMP_LINE:0:COMP_POINT} =~ [[:space:]]$ ]] && words+=('')
    cword=$((${#words[@]} - 1))
    cur=${words[cword]} prev=${words[cword - 1]:-}
}

# COMPREPLY from the words in $1 for the last item of a comma list in $cur;
# bash puts back only what follows the last ':' of the word.
_lodecast_complete_list() {
    local head='' item=$cur
    if [[ $cur == *,* ]]; then
        head=${cur%,*},
        item=${cur##*,}
    fi
    mapfile -t COMPREPLY < <(compgen -P "$head" -W "$1" -- "$item")
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        local i strip=${cur%"${cur##*:}"}
        for i in "${!COMPREPLY[@]}"; do COMPREPLY[i]=${COMPREPLY[i]#"$strip"}; done
    fi
}

_lodecast() {
    local cur prev words cword
    _lodecast_words
    COMPREPLY=()
    case $prev in
    -r | -mn | -mx | -s | -d | -mb | -ma | -cb | -ca | -j | -seed | -air | -every | -saved-before)
        return
        ;; # a number
    -biome) return ;; # biome names
    -dim)
        mapfile -t COMPREPLY < <(compgen -W '-1 1 minecraft:the_nether minecraft:the_end' -- "$cur")
        return
        ;;
    -base | -deep)
        _lodecast_complete_list "$(_lodecast_world_ores "${words[1]}" | grep :)"
        return
        ;;
    -backup)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    -map)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    esac
    # -bb takes four numbers.
    local i
    for ((i = cword - 1; i >= cword - 4 && i > 0; i--)); do
        [[ ${words[i]} == -bb ]] && return
    done
    case $cword in
    1)
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '--help --version' -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        fi
        ;;
    2)
        if [[ $cur == @* ]]; then # a profile file
            mapfile -t COMPREPLY < <(compgen -P @ -f -- "${cur#@}")
            return
        fi
        # Coal 16, Iron 15, Gold 14, Redstone 73, Diamond 56, Lapis 21, and
        # the world's own ore names; a list (16,iron) item by item.
        _lodecast_complete_list "16 15 14 73 56 21 $(_lodecast_world_ores "${words[1]}")"
        ;;
    *)
        mapfile -t COMPREPLY < <(compgen -W '-r -mn -mx -s -d -oo -ob -oa -mb -ma -cb -ca -bb
            -v -vv -j -seed -dim -record -record-adopt -backup -n -map -unfinished -base -deep
            -spread -tri -air -every -biome -saved-before' -- "$cur")
        ;;
    esac
}

_lodecast_census() {
    local cur prev words cword
    _lodecast_words
    COMPREPLY=()
    case $prev in
    -csv | -svg | -map)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    --names | -map-also)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    esac
    if ((cword > 2)) && [[ ${words[cword - 2]} == -map-also ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-csv -svg -map -map-also --names -h --help --version' -- "$cur")
    elif ((cword == 1)); then
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    else
        _lodecast_complete_list "16 15 14 73 56 21 $(_lodecast_world_ores "${words[1]}")"
    fi
}

_lodecast_mkworld() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
    --compression)
        mapfile -t COMPREPLY < <(compgen -W 'lz4 zlib none' -- "$cur")
        return
        ;;
    --external) return ;; # x,z
    --restyle)
        mapfile -t COMPREPLY < <(compgen -f -X '!*.mc[ar]' -- "$cur")
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--force --region --sectioned --paletted
            --paletted=1.16 --compression --external --restyle --count --help --version' -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    fi
}


_lodecast_restore() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if [[ $cur == -* ]] && ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W '--help --version' -- "$cur")
    elif ((COMP_CWORD <= 2)); then
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    fi
}

_lodecast_nbtdump() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
    --chunk | --max-array) return ;; # numbers
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--chunk --max-array -- -h --help --version' -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _lodecast -o filenames lodecast
complete -F _lodecast_census -o filenames lodecast-census
complete -F _lodecast_mkworld -o filenames lodecast-mkworld
complete -F _lodecast_nbtdump -o filenames nbtdump
complete -F _lodecast_restore -o filenames lodecast-restore
