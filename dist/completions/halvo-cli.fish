# fish completion for halvo-cli: the subcommands, their flags, and for `kill`
# and `wait-free` the ports listening now.

function __halvo_cli_ports
    # jq-free: a string value never holds "port": unescaped.
    command halvo-cli list --json 2>/dev/null | string match -ar '"port":\d+' |
        string replace '"port":' '' | sort -un
end

complete -c halvo-cli -f
complete -c halvo-cli -s h -l help -d 'Print help and exit'
complete -c halvo-cli -n __fish_use_subcommand -l version -d 'Print the version and exit'
complete -c halvo-cli -n __fish_use_subcommand -a list -d 'List the development servers you run'
complete -c halvo-cli -n __fish_use_subcommand -a kill -d 'End the processes that match QUERY'
complete -c halvo-cli -n __fish_use_subcommand -a wait-free -d 'Wait until nothing listens on PORT'
complete -c halvo-cli -n __fish_use_subcommand -a mcp -d 'Serve the tools to coding agents (MCP)'
complete -c halvo-cli -n __fish_use_subcommand -a pick -d 'Pick servers to end from a full-screen list'
complete -c halvo-cli -n '__fish_seen_subcommand_from pick' -l once -d 'Exit after the first kill'
complete -c halvo-cli -n '__fish_seen_subcommand_from pick' -l force -d 'Start in force mode'
complete -c halvo-cli -n '__fish_seen_subcommand_from pick' -l all \
    -d 'Every process of yours, not only development servers'
complete -c halvo-cli -n '__fish_seen_subcommand_from list' -l json -d 'Print one JSON array'
complete -c halvo-cli -n '__fish_seen_subcommand_from list' -l all \
    -d 'Every process of yours, not only development servers'
complete -c halvo-cli -n '__fish_seen_subcommand_from kill' -l force \
    -d 'SIGKILL at once instead of SIGTERM first'
complete -c halvo-cli -n '__fish_seen_subcommand_from kill' -l dry-run \
    -d 'Print what would be ended; signal nothing'
complete -c halvo-cli -n '__fish_seen_subcommand_from kill' -l tree \
    -d 'End the whole process tree, children first'
complete -c halvo-cli -n '__fish_seen_subcommand_from kill wait-free' -a '(__halvo_cli_ports)' \
    -d 'Listening port'
complete -c halvo-cli -n '__fish_seen_subcommand_from wait-free' -l timeout -x \
    -d 'Give up after S seconds (default 30)'
