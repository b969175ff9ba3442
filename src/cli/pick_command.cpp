#include "cli/pick_command.h"

#include "cli/picker_layout.h"
#include "cli/picker_state.h"
#include "cli/picker_terminal.h"
#include "kill/kill_sequence.h"
#include "kill/leave_alone_list.h"

namespace halvo {

ExitStatus runPick(const PickOptions& options, PortScanning& scanner, ProcessKilling& engine,
                   ContainerStopping& containers, std::ostream& out, std::ostream& err,
                   KillHelpers helpers) {
    std::unique_ptr<PickerTerminal> terminal = PickerTerminal::open();
    if (!terminal) {
        err << "halvo-cli pick: standard input and output must be a terminal that TERM names\n";
        return ExitStatus::usage;
    }
    Picker picker(options.force ? KillMode::force : KillMode::graceful);
    const auto draw = [&](std::string_view status = {}) {
        picker.setPageHeight(pickerPageHeight(terminal->height()));
        terminal->draw(pickerScreen(picker, terminal->width(), terminal->height(), status));
    };
    const auto rescan = [&] {
        draw("Scanning\u2026");
        PortScan scan = scanner.scanAll();
        // Read at every scan, so that an edit elsewhere counts at once.
        takeLeftAlone(scan.processes, usersLeaveAloneList());
        picker.setScan(std::move(scan));
    };
    rescan();
    bool ended = false;
    for (;;) {
        draw();
        const std::optional<TerminalKey> key = terminal->readKey();
        if (!key) {
            break;  // the terminal is gone
        }
        const PickerCommand command = picker.press(*key);
        if (command == PickerCommand::quit) {
            break;
        }
        if (command == PickerCommand::rescan) {
            rescan();
        } else if (command == PickerCommand::kill) {
            draw("Ending\u2026");
            std::vector<KillGroup> targets = picker.killTargets();
            if (helpers.endings != nullptr) {
                helpers.endings->record(targets);
            }
            const KillReport report = runKillSequence(
                {std::move(targets), picker.mode(), picker.tree()},
                {engine, containers, helpers.tree, helpers.restarts, helpers.supervisors});
            ended = ended || !report.killedRows.empty();
            picker.showReport(report);
            if (options.once) {
                terminal.reset();  // the feedback goes under the prompt the shell gets back
                if (picker.feedback()) {
                    (picker.feedback()->failed ? err : out) << picker.feedback()->text << '\n';
                }
                break;
            }
            rescan();
        }
    }
    return ended ? ExitStatus::ok : ExitStatus::nothingMatched;
}

}  // namespace halvo
