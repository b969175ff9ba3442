#include "cli/port_output.h"

#include <unistd.h>

#include <algorithm>

#include "cli/terminal_text.h"
#include "scan/process_cost.h"

namespace halvo {
namespace {

template <typename T>
nlohmann::json optionalJson(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json processesArray(const std::vector<PortProcess>& processes) {
    nlohmann::json array = nlohmann::json::array();
    for (const PortProcess& p : processes) {
        array.push_back(portProcessJson(p));
    }
    return array;
}

// Names come from other processes: a stray byte must not abort the output,
// and no control character may reach a terminal raw (ASCII with \u escapes).
std::string dumped(const nlohmann::json& json) {
    return json.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

// What restarts the row's server and is stopped instead; Docker as a kind of its own.
nlohmann::json supervisorJson(const PortProcess& p) {
    if (p.stopsContainer()) {
        return {{"kind", "docker"}, {"name", *p.dockerContext->containerName}};
    }
    if (p.supervisor) {
        return {{"kind", rawValue(p.supervisor->kind)}, {"name", p.supervisor->name}};
    }
    return nullptr;
}

}  // namespace

nlohmann::json startTimeJson(const ProcessStartTime& time) {
    return {{"seconds", time.seconds}, {"microseconds", time.microseconds}};
}

nlohmann::json portProcessJson(const PortProcess& p) {
    nlohmann::json docker = nullptr;
    if (p.dockerContext) {
        docker = {{"containerName", optionalJson(p.dockerContext->containerName)},
                  {"composeService", optionalJson(p.dockerContext->composeService)},
                  {"containerId", optionalJson(p.dockerContext->containerId)}};
    }
    nlohmann::json badge = nullptr;
    if (p.frameworkBadge) {
        badge = std::string(rawValue(*p.frameworkBadge));
    }
    return {
        {"id", p.id()},
        {"port", p.port},
        {"pid", p.isContainer() ? nlohmann::json(nullptr) : nlohmann::json(p.pid)},
        {"startTime", startTimeJson(p.startTime)},
        {"executableName", p.executableName},
        {"executablePath", p.executablePath},
        {"arguments", p.arguments},
        {"workingDirectory", optionalJson(p.workingDirectory)},
        {"projectHint", optionalJson(p.projectHint)},
        {"projectLabel", p.projectLabel()},
        {"projectRoot", optionalJson(p.projectRoot)},
        {"frameworkBadge", badge},
        {"dockerContext", docker},
        {"supervisor", supervisorJson(p)},
        {"memoryBytes", p.cost ? nlohmann::json(p.cost->residentBytes) : nlohmann::json(nullptr)},
        {"cpuSeconds", p.cost ? nlohmann::json(p.cost->cpuSeconds) : nlohmann::json(nullptr)},
    };
}

std::string portProcessesJson(const std::vector<PortProcess>& processes) {
    return dumped(processesArray(processes));
}

nlohmann::json portScanObject(const std::vector<PortProcess>& processes,
                              const std::vector<ForeignListener>& foreign) {
    nlohmann::json held = nlohmann::json::array();
    for (const ForeignListener& listener : foreign) {
        held.push_back(
            {{"port", listener.port}, {"owner", {{"uid", listener.uid}, {"user", listener.user}}}});
    }
    return {{"processes", processesArray(processes)}, {"heldByOthers", std::move(held)}};
}

std::string portScanJson(const std::vector<PortProcess>& processes,
                         const std::vector<ForeignListener>& foreign) {
    const nlohmann::json scan = portScanObject(processes, foreign);
    // Written out so that the processes come first, as documented.
    return "{\"processes\":" + dumped(scan["processes"]) +
           ",\"heldByOthers\":" + dumped(scan["heldByOthers"]) + "}";
}

namespace {

// Only where a row has one, so that the usual table keeps its columns.
void addSupervisorColumn(const std::vector<PortProcess>& processes,
                         std::vector<std::vector<std::string>>& rows) {
    if (std::none_of(processes.begin(), processes.end(),
                     [](const PortProcess& p) { return p.stopsSupervisor(); })) {
        return;
    }
    rows[0].insert(rows[0].end() - 1, "SUPERVISOR");
    for (size_t i = 0; i < processes.size(); ++i) {
        const PortProcess& p = processes[i];
        rows[i + 1].insert(rows[i + 1].end() - 1,
                           p.stopsSupervisor() ? terminalSafe(supervisorLabel(*p.supervisor)) : "");
    }
}

}  // namespace

std::string portTable(const std::vector<PortProcess>& processes, std::optional<size_t> width,
                      std::optional<ProcessStartTime> costsAt) {
    using Row = std::vector<std::string>;
    std::vector<Row> rows{{"PORT", "PID", "PROCESS", "PROJECT", "BADGE", "COMMAND"}};
    if (costsAt) {
        rows.front().insert(rows.front().end() - 1, {"MEMORY", "CPU", "UP"});
    }
    for (const PortProcess& p : processes) {
        Row row{std::to_string(p.port), p.isContainer() ? "-" : std::to_string(p.pid),
                terminalSafe(p.executableName), terminalSafe(p.projectLabel()),
                p.frameworkBadge ? std::string(rawValue(*p.frameworkBadge)) : ""};
        if (costsAt) {
            const CostTexts costs = costTexts(p, *costsAt);
            row.insert(row.end(), {costs.memory, costs.cpu, costs.up});
        }
        row.push_back(terminalSafe(p.commandLine()));
        rows.push_back(std::move(row));
    }
    addSupervisorColumn(processes, rows);
    std::vector<size_t> widths(rows.front().size());
    for (const Row& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], displayWidth(row[i]));
        }
    }
    if (width) {
        // COMMAND is last and may be megabytes long: it gets what is left of the line.
        size_t before = 0;
        for (size_t i = 0; i + 1 < widths.size(); ++i) {
            before += widths[i] + 2;
        }
        const size_t left = *width > before ? *width - before : 1;
        for (Row& row : rows) {
            row.back() = cutToWidth(row.back(), left);
        }
    }
    std::string out;
    for (const Row& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - displayWidth(row[i]) + 2, ' ');
            }
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line;
        out += '\n';
    }
    return out;
}

std::string foreignListenerTable(const std::vector<ForeignListener>& foreign) {
    std::string out = "Listeners Halvo cannot end:\n";
    size_t portWidth = 4;  // "PORT"
    for (const ForeignListener& listener : foreign) {
        portWidth = std::max(portWidth, std::to_string(listener.port).size());
    }
    const auto line = [&](const std::string& port, const std::string& owner) {
        out += port + std::string(portWidth - port.size() + 2, ' ') + owner + '\n';
    };
    line("PORT", "OWNER");
    for (const ForeignListener& listener : foreign) {
        std::string owner = terminalSafe(listener.user);
        if (listener.uid == getuid()) {
            owner += " (no process of yours that Halvo can read)";
        }
        line(std::to_string(listener.port), owner);
    }
    return out;
}

}  // namespace halvo
