# bash completion for brevant                                     -*- shell-script -*-

_brevant_options_of() {
    local common="--device --simulate --export-image --export-pages --trace --sim-latency
        --verbose --quiet --help --version"
    case $1 in
        list) echo "$common --probe-write-protect" ;;
        format) echo "$common --all --report-dir --full --yes --settings --log --on-damaged
                --backup-dir --report --json --map --replug --no-replug" ;;
        check) echo "$common --report --json --map" ;;
        watch) echo "$common --all-present --report-dir --full --yes --settings --on-damaged
                --backup-dir --no-replug" ;;
        restore-cis) echo "$common --yes --force --replug" ;;
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

    local commands="list format check watch restore-cis help"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            list | format | check | watch | restore-cis | help)
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
        --sim-latency | --worker-status)
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
        *)
            COMPREPLY=($(compgen -W "$(_brevant_options_of "$command")" -- "$cur"))
            ;;
    esac
} &&
    complete -F _brevant brevant

# ex: filetype=sh
