# bash completion for halvo-cli: the subcommands, their flags, and for `kill`
# and `wait-free` the ports listening now.

# The ports of `halvo-cli list --json`, read without jq: a string value never
# holds "port": unescaped, so the pattern only meets the key.
_halvo_cli_ports() {
    local json
    json=$(command halvo-cli list --json 2>/dev/null)
    while [[ $json =~ \"port\":([0-9]+)(.*) ]]; do
        printf '%s\n' "${BASH_REMATCH[1]}"
        json=${BASH_REMATCH[2]}
    done
}

_halvo_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} command= word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        if [[ $word == list || $word == kill || $word == wait-free || $word == mcp || $word == pick ]]; then
            command=$word
            break
        fi
    done

    local IFS=$'\n'
    case $command in
    list) COMPREPLY=($(compgen -W $'--json\n--all\n--help' -- "$cur")) ;;
    kill)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W $'--force\n--dry-run\n--tree\n--help' -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$(_halvo_cli_ports | sort -un)" -- "$cur"))
        fi
        ;;
    wait-free)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W $'--timeout\n--help' -- "$cur"))
        elif [[ ${COMP_WORDS[COMP_CWORD - 1]} != --timeout ]]; then
            COMPREPLY=($(compgen -W "$(_halvo_cli_ports | sort -un)" -- "$cur"))
        fi
        ;;
    mcp) COMPREPLY=($(compgen -W $'--help' -- "$cur")) ;;
    pick) COMPREPLY=($(compgen -W $'--once\n--force\n--all\n--help' -- "$cur")) ;;
    *) COMPREPLY=($(compgen -W $'list\nkill\nwait-free\nmcp\npick\n--help\n--version' -- "$cur")) ;;
    esac
}

complete -F _halvo_cli halvo-cli
