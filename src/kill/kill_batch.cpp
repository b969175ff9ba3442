#include "kill/kill_batch.h"

#include <algorithm>

namespace halvo {

std::vector<KillGroup> killGroups(const std::vector<PortProcess>& processes,
                                  const std::set<std::string>& ids, SupervisorChoice choice) {
    std::vector<KillGroup> groups;
    for (const PortProcess& process : processes) {
        if (!ids.contains(process.id())) {
            continue;
        }
        std::optional<DockerContext> container;
        if (process.stopsContainer()) {
            container = process.dockerContext;
        }
        // The rows of one container share its context, and so its ID.
        auto group = std::find_if(groups.begin(), groups.end(), [&](const KillGroup& g) {
            return g.pid == process.pid && g.container == container;
        });
        if (group == groups.end()) {
            groups.push_back(KillGroup{process.pid, process.startTime, {}, container});
            if (choice == SupervisorChoice::stopSupervisor && process.stopsSupervisor()) {
                groups.back().supervisor = process.supervisor;
            }
            group = groups.end() - 1;
        }
        group->rows.push_back(process);
    }
    return groups;
}

std::vector<KillOutcome> withContainersStopped(const std::vector<KillGroup>& groups,
                                               std::vector<KillOutcome> processOutcomes,
                                               ContainerStopping& stopper,
                                               SupervisorStopping* supervisors,
                                               std::optional<ProcessStartTime> started) {
    std::vector<KillOutcome> outcomes;
    outcomes.reserve(groups.size());
    auto next = processOutcomes.begin();
    for (size_t i = 0; i < groups.size(); ++i) {
        const KillGroup& group = groups[i];
        // Two processes of one unit: the first stop ended both.
        const auto asked = std::find_if(
            groups.begin(), groups.begin() + static_cast<long>(i), [&](const KillGroup& g) {
                return group.supervisor && g.supervisor == group.supervisor;
            });
        if (group.container) {
            outcomes.push_back(stopper.stop(*group.container));
        } else if (asked != groups.begin() + static_cast<long>(i)) {
            outcomes.push_back(outcomes[static_cast<size_t>(asked - groups.begin())]);
        } else if (group.supervisor) {
            outcomes.push_back(
                supervisors != nullptr
                    ? supervisors->stop(*group.supervisor,
                                        {group.pid, started.value_or(group.startTime)})
                    : KillOutcome::failed("Could not stop " +
                                          supervisorStopTarget(*group.supervisor) +
                                          ": no way to stop it here"));
        } else if (next != processOutcomes.end()) {
            outcomes.push_back(std::move(*next++));
        } else {
            outcomes.push_back(
                KillOutcome::failed("no outcome for PID " + std::to_string(group.pid)));
        }
    }
    return outcomes;
}

void BatchTally::record(const KillGroup& group, const KillOutcome& outcome) {
    const int64_t port = group.rows.front().port;
    switch (outcome.kind) {
        case KillOutcome::Kind::killed:
            killedRows_.insert(killedRows_.end(), group.rows.begin(), group.rows.end());
            for (const PortProcess& row : group.rows) {
                killedPorts_.insert(row.port);
            }
            ++killedGroups_;
            container_ = group.container;
            supervisor_ = group.supervisor;
            return;
        case KillOutcome::Kind::stale:
            ++staleCount_;
            lastMessage_ = kBatchStaleMessage;
            if (!firstFailure_) {
                firstFailure_ = feedback::Stale{port};
            }
            break;
        case KillOutcome::Kind::failed:
            lastMessage_ = outcome.message;
            if (!firstFailure_) {
                firstFailure_ = feedback::Failure{outcome.message};
            }
            break;
    }
    ++failedCount_;
    for (const PortProcess& row : group.rows) {
        failedPorts_.insert(row.port);
    }
}

std::optional<Feedback> BatchTally::feedback() const {
    std::set<int64_t> ports = killedPorts_;
    ports.insert(failedPorts_.begin(), failedPorts_.end());
    if (ports.empty()) {
        return std::nullopt;
    }
    if (ports.size() == 1 && failedCount_ > 0) {
        return firstFailure_;
    }
    if (ports.size() == 1) {
        const int64_t port = *ports.begin();
        if (container_) {
            return feedback::ContainerStopped{containerLabel(*container_), port};
        }
        if (supervisor_) {
            return feedback::SupervisorStopped{supervisorLabel(*supervisor_), port};
        }
        return feedback::Success{port, killedGroups_};
    }
    // A port with a process left on it is not free.
    int64_t killed = 0;
    for (int64_t port : killedPorts_) {
        killed += failedPorts_.contains(port) ? 0 : 1;
    }
    const auto failed = static_cast<int64_t>(failedPorts_.size());
    if (failed == 0) {
        return feedback::Batch{killed};
    }
    if (killed > 0) {
        return feedback::PartialBatch{killed, failed, lastMessage_.value_or("")};
    }
    return feedback::Failure{lastMessage_.value_or("")};
}

}  // namespace halvo
