# Bash completion for drifterm. Installed as
# share/bash-completion/completions/drifterm; works sourced on its own too,
# without the bash-completion package.

_drifterm_options='-f -s -p -w -l -u -c -n -a -v -h -x -b -m -t'
_drifterm_colors='red bgred green bggreen blue bgblue yellow bgyellow magenta bgmagenta bgwhite bgblack'

# Completes the value of option letter $1 from the prefix $2; each reply
# is given the text $3 in front (the option itself, for -cred).
_drifterm_value()
{
    local letter=$1 cur=$2 lead=$3 word
    case $letter in
    c)
        for word in $_drifterm_colors; do
            [[ $word == "$cur"* ]] && COMPREPLY+=("$lead$word")
        done
        ;;
    t)
        for word in /dev/tty /dev/pts/[0-9]* /dev/tty[0-9A-Za-z]*; do
            [[ -c $word && $word == "$cur"* ]] && COMPREPLY+=("$lead$word")
        done
        ;;
    f)
        compopt -o filenames 2>/dev/null
        while IFS= read -r word; do
            COMPREPLY+=("$lead$word")
        done < <(compgen -f -- "$cur")
        ;;
    esac
    # -s, -p and -w take numbers and words: nothing to offer.
}

_drifterm()
{
    local cur=${COMP_WORDS[COMP_CWORD]} i word rest letter
    COMPREPLY=()

    # Options are read only up to the first argument that is not one, the
    # way getopt scans under POSIX rules; $letter is set when the word
    # before the cursor is an option waiting for its value.
    letter=
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $letter ]]; then
            letter=
            continue
        fi
        if [[ $word == -- ]]; then
            return 0
        fi
        if [[ $word != -?* ]]; then
            # A file name: scanning is over, only file names can follow.
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return 0
        fi
        rest=${word#-}
        while [[ -n $rest ]]; do
            if [[ ${rest:0:1} == [fspwct] ]]; then
                [[ -z ${rest:1} ]] && letter=${rest:0:1}
                break
            fi
            rest=${rest:1}
        done
    done

    if [[ -n $letter ]]; then
        _drifterm_value "$letter" "$cur" ""
        return 0
    fi

    if [[ $cur == -?* ]]; then
        # A value written onto its option, as in -cred or -nf./notes.
        rest=${cur#-}
        while [[ -n $rest ]]; do
            if [[ ${rest:0:1} == [fspwct] ]]; then
                if [[ -n ${rest:1} ]]; then
                    _drifterm_value "${rest:0:1}" "${rest:1}" "${cur%"${rest:1}"}"
                    return 0
                fi
                break
            fi
            rest=${rest:1}
        done
    fi

    if [[ $cur == -* ]]; then
        for word in $_drifterm_options; do
            [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
        done
        # A finished group such as -nab is complete as it stands.
        [[ ${#COMPREPLY[@]} -eq 0 && $cur == -[fspwctnavhbluxm]* && ${cur#-} != *[!fspwctnavhbluxm]* ]] &&
            COMPREPLY=("$cur")
        return 0
    fi

    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -F _drifterm drifterm
