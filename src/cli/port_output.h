// How halvo-cli prints scanned ports: a table for people, JSON for programs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scan/port_records.h"

namespace halvo {

// {"seconds": ..., "microseconds": ...}, as a record's startTime.
nlohmann::json startTimeJson(const ProcessStartTime& time);

// One record with every field; absent values are null.
nlohmann::json portProcessJson(const PortProcess& process);

// The records as one JSON array, invalid UTF-8 replaced.
std::string portProcessesJson(const std::vector<PortProcess>& processes);

// {"processes": [the records], "heldByOthers": [{"port": 5432, "owner":
// {"uid": 105, "user": "postgres"}}]}, invalid UTF-8 replaced.
std::string portScanJson(const std::vector<PortProcess>& processes,
                         const std::vector<ForeignListener>& foreign);

// portScanJson's object, for callers that embed it (key order aside).
nlohmann::json portScanObject(const std::vector<PortProcess>& processes,
                              const std::vector<ForeignListener>& foreign);

// PORT, PID, PROCESS, PROJECT, BADGE, COMMAND; every value made terminal-safe.
// With a `width` (a terminal's columns) COMMAND is cut to fit the line. With
// `costsAt` (now), MEMORY, CPU and UP (run time until then) before COMMAND.
std::string portTable(const std::vector<PortProcess>& processes,
                      std::optional<size_t> width = std::nullopt,
                      std::optional<ProcessStartTime> costsAt = std::nullopt);

// "Listeners Halvo cannot end:" over PORT and OWNER, one line per listener;
// the current user's own are marked as held by no process Halvo can read.
std::string foreignListenerTable(const std::vector<ForeignListener>& foreign);

}  // namespace halvo
