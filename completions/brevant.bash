# bash completion for brevant                                     -*- shell-script -*-

_brevant_options_of() {
    local common="--verbose --quiet --help --version"
    local stick="--device --simulate --export-image --export-pages --trace --sim-latency"
    case $1 in
        list) echo "$common $stick --probe-write-protect --json" ;;
        format) echo "$common $stick --all --report-dir --full --yes --settings --log --on-damaged
                --backup-dir --report --json --map --progress --dry-run --label
                --retire-above --replug --no-replug" ;;
        check) echo "$common $stick --report --json --map --progress" ;;
        watch) echo "$common $stick --all-present --report-dir --full --yes --settings
                --on-damaged --backup-dir --label --retire-above --no-replug" ;;
        restore-cis) echo "$common $stick --yes --force --replug" ;;
        history) echo "$common --json" ;;
        *) echo "--help --version" ;;
    esac
}

_brevant_nodes() {
    # Generic nodes and whole disks; a partition is not a stick.
    local node
    for node in /dev/sg[0-9]* /dev/sd[a-z]*; do
        [[ -e $node && ($node == /dev/sg* || $node != *[0-9]) ]] && echo "$node"
    done
}

_brevant() {
    local cur prev words cword
    _init_completion || return

    local commands="list format check watch restore-cis history help"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            list | format | check | watch | restore-cis | history | help)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $prev in
        --device | -d)
            COMPREPLY=($(compgen -W "$(_brevant_nodes)" -- "$cur"))
            return
            ;;
        --settings | --simulate | --report | --map | --log | --export-image | --export-pages | \
            --trace)
            _filedir
            return
            ;;
        --backup-dir | --report-dir)
            _filedir -d
            return
            ;;
        --on-damaged)
            COMPREPLY=($(compgen -W "abort continue" -- "$cur"))
            return
            ;;
        --progress)
            COMPREPLY=($(compgen -W "json text" -- "$cur"))
            return
            ;;
        --sim-latency | --label | --retire-above)
            return
            ;;
    esac

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$(_brevant_options_of "")" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    case $command in
        help)
            COMPREPLY=($(compgen -W "${commands% help}" -- "$cur"))
            ;;
        restore-cis)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "$(_brevant_options_of restore-cis)" -- "$cur"))
            else
                _filedir cis
            fi
            ;;
        list | format | check)
            # The device may follow the command as a word of its own.
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "$(_brevant_options_of "$command")" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$(_brevant_nodes)" -- "$cur"))
            fi
            ;;
        *)
            COMPREPLY=($(compgen -W "$(_brevant_options_of "$command")" -- "$cur"))
            ;;
    esac
} &&
    complete -F _brevant brevant

# ex: filetype=sh
