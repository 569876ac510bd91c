# bash completion for lodecast and its tools (installed once per program
# name, as bash-completion looks completions up by command).

_lodecast() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
    -r | -mn | -mx | -s | -d | -mb | -ma | -j | -seed | -dim) return ;; # a number
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
    for ((i = COMP_CWORD - 1; i >= COMP_CWORD - 4 && i > 0; i--)); do
        [[ ${COMP_WORDS[i]} == -bb ]] && return
    done
    case $COMP_CWORD in
    1)
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '--help --version' -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        fi
        ;;
    2)
        # The ore id: Coal 16, Iron 15, Gold 14, Redstone 73, Diamond 56, Lapis 21.
        mapfile -t COMPREPLY < <(compgen -W '16 15 14 73 56 21' -- "$cur")
        ;;
    *)
        mapfile -t COMPREPLY < <(compgen -W '-r -mn -mx -s -d -oo -ob -oa -mb -ma -bb
            -v -vv -j -seed -dim -record -record-adopt -backup -n -map -unfinished -base -deep' -- "$cur")
        ;;
    esac
}

_lodecast_census() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
    -csv | -svg | -map)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    -map-also)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    esac
    if ((COMP_CWORD > 2)) && [[ ${COMP_WORDS[COMP_CWORD - 2]} == -map-also ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-csv -svg -map -map-also --help --version' -- "$cur")
    elif ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -W 'coal iron gold redstone diamond lapis
            16 15 14 73 56 21' -- "$cur")
    fi
}

_lodecast_mkworld() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--force --count --help --version' -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    fi
}

complete -F _lodecast -o filenames lodecast
complete -F _lodecast_census -o filenames lodecast-census
complete -F _lodecast_mkworld -o filenames lodecast-mkworld
_nbtdump() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
    --chunk | --max-array) return ;; # numbers
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--chunk --max-array --help --version' -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _nbtdump -o filenames nbtdump
complete -d lodecast-restore
