// halvo-cli: which process listens on a port, and ending it, from a terminal.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/commands.h"
#include "kill/kill_engine.h"
#include "scan/system_scanner.h"

int main(int argc, char** argv) {
    using halvo::ExitStatus;

    CLI::App app{"Halvo: which process is listening on a TCP port, and ending it.", "halvo-cli"};
    app.set_version_flag("--version", std::string("halvo-cli ") + HALVO_VERSION);
    app.require_subcommand(1);

    halvo::ListOptions list;
    bool all = false;
    auto* listCommand = app.add_subcommand("list", "List the development servers you run.");
    listCommand->add_option("QUERY", list.query,
                            "Ports (3000, 3000,5173, 5432-5434, 3000..3010) or text to match");
    listCommand->add_flag("--json", list.json, "Print one JSON array");
    listCommand->add_flag("--all", all, "Every process of yours, not only development servers");

    halvo::KillOptions kill;
    auto* killCommand = app.add_subcommand("kill", "End the processes that match QUERY.");
    killCommand->add_option("QUERY", kill.query, "Ports or text, as for list")->required();
    killCommand->add_flag("--force", kill.force, "SIGKILL at once instead of SIGTERM first");
    killCommand->add_flag("--dry-run", kill.dryRun, "Print what would be ended; signal nothing");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : static_cast<int>(ExitStatus::usage);
    }

    ExitStatus status = ExitStatus::usage;
    if (listCommand->parsed()) {
        auto scanner = halvo::makeSystemScanner({.developmentOnly = !all});
        status = halvo::runList(list, *scanner, std::cout, std::cerr);
    } else if (killCommand->parsed()) {
        auto scanner = halvo::makeSystemScanner();
        halvo::KillEngine engine;
        status = halvo::runKill(kill, *scanner, engine, std::cout, std::cerr);
    }
    std::cout.flush();
    return static_cast<int>(status);
}
