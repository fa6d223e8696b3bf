# bash completion for zidazavavide                         -*- shell-script -*-
#
# Completes the command groups, their subcommands, the topics of every `help`
# subcommand, the options of the command at hand and file names for every
# option or argument that names a file. Ids and the bundle version are typed
# by hand, so nothing is offered for them.

# _zidazavavide_children PATH: the subcommands of the group PATH ("" for the
# program itself), in the order the program declares them.
_zidazavavide_children()
{
    case $1 in
        "") echo "node enroll bundle audit dev-cp help" ;;
        node) echo "init status help" ;;
        enroll) echo "offer approve revoke help" ;;
        bundle) echo "apply help" ;;
        audit) echo "show verify help" ;;
        dev-cp) echo "keygen offer bundle help" ;;
    esac
}

# _zidazavavide_options PATH: the options of the command PATH, help included.
_zidazavavide_options()
{
    case $1 in
        "node init") echo "--state --node-id --force" ;;
        "node status" | "enroll offer" | "enroll revoke" | "audit show" | "audit verify") echo "--state" ;;
        "enroll approve") echo "--state --yes" ;;
        "bundle apply") echo "--state --precheck --postcheck" ;;
        "dev-cp keygen") echo "--control-plane-id --out" ;;
        "dev-cp offer") echo "--key --node-hint --out" ;;
        "dev-cp bundle") echo "--key --offer --node-id --version --services --out" ;;
    esac
    echo "-h --help"
}

# _zidazavavide_value_kind OPTION: "file" when OPTION takes a file name,
# "text" when it takes any other value, nothing for a flag. An option name
# means the same thing in every command that has it.
_zidazavavide_value_kind()
{
    case $1 in
        --state | --precheck | --postcheck | --out | --key | --offer | --services) echo file ;;
        --node-id | --node-hint | --control-plane-id | --version) echo text ;;
    esac
}

# _zidazavavide_positional PATH: "file" when the command PATH takes a file
# name as its positional argument.
_zidazavavide_positional()
{
    case $1 in
        "enroll offer" | "bundle apply") echo file ;;
    esac
}

_zidazavavide_files()
{
    if declare -F _filedir >/dev/null; then
        _filedir
    else
        compopt -o filenames 2>/dev/null
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

_zidazavavide()
{
    local cur prev words cword split=false
    if declare -F _init_completion >/dev/null; then
        _init_completion -s || return
    else
        # Without bash-completion: join `--name`, `=` and the value, which
        # bash hands over as separate words, back into one word.
        local j joined=false
        words=()
        for ((j = 0; j <= COMP_CWORD; j++)); do
            if ((j > 0)) && [[ ${COMP_WORDS[j]} == = ]] || $joined; then
                words[${#words[@]} - 1]+=${COMP_WORDS[j]}
                [[ ${COMP_WORDS[j]} == = ]] && joined=true || joined=false
            else
                words+=("${COMP_WORDS[j]}")
            fi
        done
        cword=$((${#words[@]} - 1))
        cur=${words[cword]}
        prev=${words[cword - 1]-}
        if [[ $cur == --*=* ]]; then
            prev=${cur%%=*}
            cur=${cur#*=}
            split=true
        fi
    fi

    # Walk the words before the cursor: down the groups to a command, then
    # through its options and their values.
    local path="" command="" help_topics="" positional_given=false
    local -a given=()
    local i word expects_value=false
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        if $expects_value; then
            expects_value=false
            continue
        fi
        if [[ -n $command ]]; then
            case $word in
                --*=*) given+=("${word%%=*}") ;;
                -*)
                    given+=("$word")
                    [[ -n $(_zidazavavide_value_kind "$word") ]] && expects_value=true
                    ;;
                *) positional_given=true ;;
            esac
            continue
        fi
        if [[ -n $help_topics ]]; then
            # After `help`: each word names a subcommand of the one before.
            [[ $word == -* ]] && continue
            help_topics="$help_topics $word"
            continue
        fi
        [[ $word == -* ]] && continue
        if [[ $word == help ]]; then
            help_topics="${path:-.}"
            continue
        fi
        path=${path:+$path }$word
        if [[ -z $(_zidazavavide_children "$path") ]]; then
            command=$path
        fi
    done

    # The value of an option: a file name, or nothing to offer.
    if [[ -n $command ]] && { $expects_value || $split; }; then
        [[ $(_zidazavavide_value_kind "$prev") == file ]] && _zidazavavide_files
        return
    fi

    if [[ -n $help_topics ]]; then
        # The topics so far lead from the group that owns `help` downwards.
        local topic_path="" topic
        for topic in $help_topics; do
            [[ $topic == . ]] && continue
            topic_path=${topic_path:+$topic_path }$topic
        done
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-h --help" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$(_zidazavavide_children "$topic_path")" -- "$cur"))
        fi
        return
    fi

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-h --help" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$(_zidazavavide_children "$path")" -- "$cur"))
        fi
        return
    fi

    # At a command: its options not given yet, or its positional file.
    if [[ $cur != -* && -n $(_zidazavavide_positional "$command") ]] && ! $positional_given; then
        _zidazavavide_files
        return
    fi
    local option offered=""
    for option in $(_zidazavavide_options "$command"); do
        [[ " ${given[*]} " == *" $option "* ]] || offered+=" $option"
    done
    COMPREPLY=($(compgen -W "$offered" -- "$cur"))
} &&
    complete -F _zidazavavide zidazavavide

# ex: filetype=sh
