#include "kill/kill_batch.h"

#include <algorithm>

namespace halvo {

std::vector<KillGroup> killGroups(const std::vector<PortProcess>& processes,
                                  const std::set<std::string>& ids) {
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
            group = groups.end() - 1;
        }
        group->rows.push_back(process);
    }
    return groups;
}

std::vector<KillOutcome> withContainersStopped(const std::vector<KillGroup>& groups,
                                               std::vector<KillOutcome> processOutcomes,
                                               ContainerStopping& stopper) {
    std::vector<KillOutcome> outcomes;
    outcomes.reserve(groups.size());
    auto next = processOutcomes.begin();
    for (const KillGroup& group : groups) {
        if (group.container) {
            outcomes.push_back(stopper.stop(*group.container));
        } else if (next != processOutcomes.end()) {
            outcomes.push_back(std::move(*next++));
        } else {
            outcomes.push_back(
                KillOutcome::failed("no outcome for PID " + std::to_string(group.pid)));
        }
    }
    return outcomes;
}

Feedback singleKillFeedback(int64_t port, const KillOutcome& outcome) {
    switch (outcome.kind) {
        case KillOutcome::Kind::killed:
            return feedback::Success{port};
        case KillOutcome::Kind::stale:
            return feedback::Stale{port};
        case KillOutcome::Kind::failed:
            return feedback::Failure{outcome.message};
    }
    return feedback::Failure{outcome.message};
}

Feedback singleKillFeedback(const PortProcess& row, const KillOutcome& outcome) {
    if (row.stopsContainer() && outcome.kind == KillOutcome::Kind::killed) {
        return feedback::ContainerStopped{*row.dockerContext->containerName, row.port};
    }
    return singleKillFeedback(row.port, outcome);
}

void BatchTally::record(const KillGroup& group, const KillOutcome& outcome) {
    const auto rows = static_cast<int64_t>(group.rows.size());
    switch (outcome.kind) {
        case KillOutcome::Kind::killed:
            killedRows_.insert(killedRows_.end(), group.rows.begin(), group.rows.end());
            break;
        case KillOutcome::Kind::stale:
            failedCount_ += rows;
            staleCount_ += rows;
            lastMessage_ = kBatchStaleMessage;
            break;
        case KillOutcome::Kind::failed:
            failedCount_ += rows;
            lastMessage_ = outcome.message;
            break;
    }
}

std::optional<Feedback> BatchTally::feedback() const {
    const auto killed = static_cast<int64_t>(killedRows_.size());
    if (killed > 0 && (failedCount_ == 0 || !lastMessage_)) {
        return feedback::Batch{killed};
    }
    if (killed > 0) {
        return feedback::PartialBatch{killed, failedCount_, *lastMessage_};
    }
    if (lastMessage_) {
        return feedback::Failure{*lastMessage_};
    }
    return std::nullopt;
}

}  // namespace halvo
