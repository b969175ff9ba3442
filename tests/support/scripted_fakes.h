// A scanner and a kill engine whose calls block on the thread pool until the
// test answers them, so a test decides the order in which the store's awaits
// come back.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "kill/container_stopper.h"
#include "kill/process_killing.h"
#include "scan/port_records.h"
#include "scan/port_scanner.h"

namespace halvo::testing {

// Numbered calls, each waiting for its answer, which may come before the call.
// An unanswered call gives `unanswered` after a while, so a failing test
// cannot leave the thread pool stuck.
template <class Answer, class Call>
class ScriptedCalls {
  public:
    explicit ScriptedCalls(Answer unanswered) : unanswered_(std::move(unanswered)) {}

    Answer take(Call call) {
        std::unique_lock lock(mutex_);
        const size_t index = calls_.size();
        calls_.push_back(std::move(call));
        changed_.notify_all();
        changed_.wait_for(lock, kPatience, [&] { return answers_.contains(index) || every_; });
        Answer answer =
            answers_.contains(index) ? answers_.at(index) : every_.value_or(unanswered_);
        ++returned_;
        changed_.notify_all();
        return answer;
    }

    // Answers call `index` (counted from 0), now or when it comes.
    void answer(size_t index, Answer answer) {
        std::lock_guard lock(mutex_);
        answers_[index] = std::move(answer);
        changed_.notify_all();
    }
    // Answers every call not answered by index, now and later.
    void answerEvery(Answer answer) {
        std::lock_guard lock(mutex_);
        every_ = std::move(answer);
        changed_.notify_all();
    }

    // Block until `count` calls have started or returned; false when they did not.
    bool waitForCalls(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return calls_.size() >= count; });
    }
    bool waitForReturns(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return returned_ >= count; });
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    size_t callCount() const { return calls().size(); }

  private:
    static constexpr std::chrono::seconds kPatience{10};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    std::map<size_t, Answer> answers_;
    std::optional<Answer> every_;
    size_t returned_ = 0;
    Answer unanswered_;
};

class ScriptedScanner final : public PortScanning {
  public:
    std::vector<PortProcess> scan() override { return scans.take(std::this_thread::get_id()); }
    // Each scan's rows with the unlisted listeners set last.
    PortScan scanAll() override {
        std::vector<PortProcess> rows = scan();
        std::lock_guard lock(foreignMutex_);
        return {std::move(rows), foreign_, hidden_};
    }
    std::vector<LsofRow> discoverRows() override { return {}; }
    std::vector<PortProcess> processes(const std::vector<LsofRow>&) override { return {}; }
    void setUnlisted(std::vector<ForeignListener> foreign, std::vector<LsofRow> hidden = {}) {
        std::lock_guard lock(foreignMutex_);
        foreign_ = std::move(foreign);
        hidden_ = std::move(hidden);
    }

    ScriptedCalls<std::vector<PortProcess>, std::thread::id> scans{{}};

  private:
    std::mutex foreignMutex_;
    std::vector<ForeignListener> foreign_;
    std::vector<LsofRow> hidden_;
};

struct KillCall {
    int32_t pid = 0;
    ProcessStartTime startTime;
    KillMode mode = KillMode::force;
    std::stop_token stop;
    std::thread::id thread;
};

class ScriptedKillEngine final : public ProcessKilling {
  public:
    KillOutcome kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                     std::stop_token stop) override {
        return kills.take({pid, startTime, mode, stop, std::this_thread::get_id()});
    }
    std::vector<KillOutcome> killAll(const std::vector<KillTarget>& targets, KillMode mode,
                                     std::stop_token stop) override {
        ++batches;
        return ProcessKilling::killAll(targets, mode, stop);
    }

    std::atomic<int> batches = 0;

    ScriptedCalls<KillOutcome, KillCall> kills{KillOutcome::failed("test gave no answer")};
};

class ScriptedContainerStopper final : public ContainerStopping {
  public:
    KillOutcome stop(const DockerContext& container) override {
        return stops.take(container.containerName.value_or(""));
    }

    ScriptedCalls<KillOutcome, std::string> stops{KillOutcome::failed("test gave no answer")};
};

}  // namespace halvo::testing
