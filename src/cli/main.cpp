// halvo-cli: which process listens on a port, and ending it, from a terminal.
#include <sys/ioctl.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string_view>

#include "base/text.h"
#include "cli/commands.h"
#include "cli/leave_alone_commands.h"
#include "cli/mcp_stdio.h"
#include "cli/pick_command.h"
#include "cli/wait_free.h"
#include "kill/container_stopper.h"
#include "kill/kill_engine.h"
#include "kill/supervisor_stopper.h"
#include "scan/listening_ports.h"
#include "scan/process_tree.h"
#include "scan/system_scanner.h"

namespace {

// The columns of the terminal standard output goes to; nothing for a pipe or a file.
std::optional<size_t> terminalWidth() {
    winsize size{};
    if (isatty(STDOUT_FILENO) == 0 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
        size.ws_col == 0) {
        return std::nullopt;
    }
    return size.ws_col;
}

// Flags take no value: "--dry-run=no" must not quietly mean anything.
constexpr std::string_view kFlags[] = {"--json", "--all",  "--force", "--dry-run",      "--tree",
                                       "--once", "--wide", "--list",  "--no-supervisor"};

std::optional<std::string> flagGivenAValue(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            break;
        }
        const std::string_view name = argument.substr(0, argument.find('='));
        if (name.size() < argument.size() &&
            std::find(std::begin(kFlags), std::end(kFlags), name) != std::end(kFlags)) {
            return std::string(name) + " takes no value";
        }
    }
    return std::nullopt;
}

// A PID as ps prints it. CLI11 would read 031675 as octal and 0x33bd as hex,
// and so name another process.
std::optional<int32_t> parsePid(std::string_view text) {
    const std::optional<uint64_t> n = halvo::parseUint64(text);
    if (!n || text.front() == '0' || *n > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(*n);
}

}  // namespace

int main(int argc, char** argv) {
    using halvo::ExitStatus;

    CLI::App app{"Halvo: which process is listening on a TCP port, and ending it.", "halvo-cli"};
    app.set_version_flag("--version", std::string("halvo-cli ") + HALVO_VERSION);
    // At most one here, so that an unknown word is named rather than reported
    // as a missing command; a missing one is reported below.
    app.require_subcommand(0, 1);

    halvo::ListOptions list;
    bool all = false;
    auto* listCommand = app.add_subcommand("list", "List the development servers you run.");
    listCommand->add_option(
        "QUERY", list.query,
        "Ports (3000, :3000, 3000,5173, 5432-5434, 3000..3010) or text to match");
    listCommand->add_flag("--json", list.json,
                          "Print one JSON array (with --all, an object; see README)");
    listCommand->add_flag("--all", all,
                          "Every process of yours, not only development servers, and the "
                          "listeners of others");
    listCommand->add_flag("--wide", list.wide,
                          "Add each process's resident memory, CPU time and run time");

    halvo::KillOptions kill;
    std::string started;
    std::vector<std::string> pids;
    auto* killCommand = app.add_subcommand("kill", "End the processes that match a QUERY.");
    killCommand->add_option("QUERY", kill.query,
                            "Ports or text, as for list; each selects on its own");
    killCommand->add_option("--pid", pids, "End the process with this PID (decimal)")
        ->allow_extra_args(false);  // "--pid 4242 3000": 3000 is a port, not a PID
    killCommand->add_option("--started", started,
                            "Refuse a process that did not start at SECONDS.MICROSECONDS "
                            "(startTime in list --json)");
    killCommand->add_flag("--force", kill.force, "SIGKILL at once instead of SIGTERM first");
    killCommand->add_flag("--dry-run", kill.dryRun, "Print what would be ended; signal nothing");
    killCommand->add_flag("--all", all, "Every process of yours, not only development servers");
    killCommand->add_flag("--tree", kill.tree,
                          "End the whole process tree, from the top development ancestor "
                          "below your shell, children first");
    killCommand->add_flag("--no-supervisor", kill.noSupervisor,
                          "End the process itself, not the systemd unit or pm2 app that runs it");

    halvo::WaitFreeOptions waitFree;
    double timeoutSeconds = 30;
    auto* waitFreeCommand = app.add_subcommand(
        "wait-free", "Wait until nothing listens on the PORTs (anyone's process).");
    waitFreeCommand->add_option("PORT", waitFree.ports, "Ports (3000, 3000,5173, 5432-5434)")
        ->required();
    waitFreeCommand
        ->add_option("--timeout", timeoutSeconds,
                     "Give up after S seconds (default 30; 0 checks once); exit status 5")
        ->check(CLI::Range(0.0, 86400.0))
        ->check([](const std::string& text) {  // NaN passes any range
            return std::isnan(std::strtod(text.c_str(), nullptr))
                       ? text + " is not a number of seconds"
                       : std::string();
        });

    auto* mcpCommand = app.add_subcommand(
        "mcp", "Serve list, kill and wait-free to coding agents (Model Context Protocol, stdio).");

    halvo::PickOptions pick;
    auto* pickCommand = app.add_subcommand(
        "pick", "Pick servers to end from a full-screen list (the default on a terminal).");
    pickCommand->add_flag("--once", pick.once, "Exit after the first kill");
    pickCommand->add_flag("--force", pick.force, "Start in force mode (Tab toggles)");
    pickCommand->add_flag("--all", all, "Every process of yours, not only development servers");

    bool picking = false;

    std::vector<std::string> ignoreWords;
    bool ignoreList = false;
    auto* ignoreCommand = app.add_subcommand(
        "ignore", "Leave ports, port ranges or programs alone: hidden, never killed.");
    ignoreCommand->add_option("PORT|NAME", ignoreWords, "5432, 5000-5010 or a process name");
    ignoreCommand->add_flag("--list", ignoreList, "Print the leave-alone list");
    std::vector<std::string> unignoreWords;
    auto* unignoreCommand =
        app.add_subcommand("unignore", "Take ports, ranges or programs off the leave-alone list.");
    unignoreCommand->add_option("PORT|NAME", unignoreWords, "As written by ignore --list")
        ->required();
    try {
        if (const auto error = flagGivenAValue(argc, argv)) {
            throw CLI::ArgumentMismatch(*error);
        }
        app.parse(argc, argv);
        if (!started.empty() && !(kill.started = halvo::parseStartTime(started))) {
            throw CLI::ValidationError("--started", started + " is not SECONDS.MICROSECONDS");
        }
        for (const std::string& word : pids) {
            const std::optional<int32_t> pid = parsePid(word);
            if (!pid) {
                throw CLI::ValidationError("--pid", word +
                                                        " is not a PID (1 to 2147483647, "
                                                        "decimal without a leading zero)");
            }
            kill.pids.push_back(*pid);
        }
        // On a terminal, no command is the picker.
        picking = pickCommand->parsed() ||
                  (app.get_subcommands().empty() && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO));
        if (!listCommand->parsed() && !killCommand->parsed() && !waitFreeCommand->parsed() &&
            !mcpCommand->parsed() && !ignoreCommand->parsed() && !unignoreCommand->parsed() &&
            !picking) {
            throw CLI::RequiredError(
                "A command (list, kill, wait-free, pick, mcp, ignore or unignore)");
        }
        if (ignoreCommand->parsed() && ignoreList != ignoreWords.empty()) {
            throw CLI::ValidationError("ignore", "give PORT|NAME or --list, one of the two");
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : static_cast<int>(ExitStatus::usage);
    }

    if (mcpCommand->parsed()) {
        return halvo::serveMcpOnStdio();
    }
    if (waitFreeCommand->parsed()) {
        waitFree.timeout = std::chrono::milliseconds(std::llround(timeoutSeconds * 1000));
        return static_cast<int>(halvo::runWaitFree(waitFree, halvo::listeningPortsNow, std::cerr));
    }

    const std::optional<std::string> leaveAlonePath = halvo::leaveAloneListPath();
    if (ignoreCommand->parsed() || unignoreCommand->parsed()) {
        const ExitStatus edited =
            unignoreCommand->parsed()
                ? halvo::runUnignore(unignoreWords, leaveAlonePath, std::cout, std::cerr)
            : ignoreList ? halvo::runIgnoreList(leaveAlonePath, std::cout, std::cerr)
                         : halvo::runIgnore(ignoreWords, leaveAlonePath, std::cout, std::cerr);
        return std::cout.flush() ? static_cast<int>(edited)
                                 : static_cast<int>(ExitStatus::outputFailed);
    }
    // Read on every run, so that an edit in the tray application counts at once.
    const halvo::LeaveAloneList leaveAlone =
        halvo::loadReportingProblems(leaveAlonePath, std::cerr);
    list.leaveAlone = leaveAlone;
    kill.leaveAlone = leaveAlone;

    ExitStatus status = ExitStatus::usage;
    auto scanner = halvo::makeSystemScanner({.developmentOnly = !all});
    if (listCommand->parsed()) {
        list.width = terminalWidth();
        list.all = all;
        status = halvo::runList(list, *scanner, std::cout, std::cerr);
    } else {
        halvo::KillEngine engine;
        halvo::DockerContainerStopper containers;
        halvo::ProcFsProcessTree tree;
        halvo::RestartWatch restarts;
        halvo::SystemSupervisorStopper supervisors;
        const std::optional<halvo::HalvoEndings> endings = halvo::HalvoEndings::forThisSession();
        const halvo::KillHelpers helpers{.tree = &tree,
                                         .restarts = &restarts,
                                         .supervisors = &supervisors,
                                         .endings = endings ? &*endings : nullptr};
        status =
            picking
                ? halvo::runPick(pick, *scanner, engine, containers, std::cout, std::cerr, helpers)
                : halvo::runKill(kill, *scanner, engine, containers, std::cout, std::cerr, helpers);
    }
    // "list > /dev/full" must not look like success.
    if (!std::cout.flush()) {
        std::cerr << "halvo-cli: could not write to standard output\n";
        return static_cast<int>(ExitStatus::outputFailed);
    }
    return static_cast<int>(status);
}
