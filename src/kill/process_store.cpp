#include "kill/process_store.h"

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

#include "kill/kill_batch.h"
#include "kill/search_filter.h"

namespace halvo {
namespace {

// The pool jobs hold their own references: they may outlive the store.
// Futures are named before they are awaited: GCC 12 may destroy temporaries
// of a co_await expression twice.
QCoro::Task<std::vector<PortProcess>> scanOnPool(std::shared_ptr<PortScanning> scanner) {
    QFuture<std::vector<PortProcess>> future =
        QtConcurrent::run([scanner = std::move(scanner)] { return scanner->scan(); });
    // Awaited as a void future so that the rows are moved out, not copied.
    QFuture<void> finished(future);
    co_await finished;
    co_return future.takeResult();
}

QCoro::Task<KillOutcome> killOnPool(std::shared_ptr<KillEngineProtocol> engine, int32_t pid,
                                    ProcessStartTime startTime, KillMode mode,
                                    std::stop_token stop) {
    QFuture<KillOutcome> future = QtConcurrent::run(
        [engine = std::move(engine), pid, startTime, mode, stop = std::move(stop)] {
            return engine->kill(pid, startTime, mode, stop);
        });
    co_await future;
    co_return future.takeResult();
}

}  // namespace

ProcessStore::ProcessStore(std::shared_ptr<PortScanning> scanner,
                           std::shared_ptr<KillEngineProtocol> killEngine, QObject* parent)
    : QObject(parent), scanner_(std::move(scanner)), killEngine_(std::move(killEngine)) {}

ProcessStore::~ProcessStore() {
    if (refreshTask_) {
        refreshTask_->request_stop();
    }
    lifetime_.request_stop();
}

void ProcessStore::setProcesses(std::vector<PortProcess> processes) {
    if (processes == processes_) {
        return;
    }
    processes_ = std::move(processes);
    emit processesChanged();
}

void ProcessStore::setQuery(const QString& query) {
    if (query != query_) {
        query_ = query;
        emit queryChanged();
    }
    clampSelection();
}

void ProcessStore::setSelectedIndex(int index) {
    if (index == selectedIndex_) {
        return;
    }
    selectedIndex_ = index;
    emit selectedIndexChanged();
}

void ProcessStore::setFeedback(std::optional<Feedback> feedback) {
    if (feedback == feedback_) {
        return;
    }
    feedback_ = std::move(feedback);
    emit feedbackChanged();
}

QString ProcessStore::feedbackText() const {
    return feedback_ ? QString::fromStdString(halvo::feedbackText(*feedback_)) : QString();
}

void ProcessStore::setKillMode(KillMode mode) {
    if (mode == killMode_) {
        return;
    }
    killMode_ = mode;
    emit killModeChanged();
}

void ProcessStore::setFocusRequestID(const QUuid& id) {
    if (id == focusRequestID_) {
        return;
    }
    focusRequestID_ = id;
    emit focusRequestIDChanged();
}

std::vector<PortProcess> ProcessStore::filteredProcesses() const {
    const QByteArray query = query_.toUtf8();
    return filterProcesses(processes_, std::string_view(query.constData(), query.size()));
}

std::optional<PortProcess> ProcessStore::selectedProcess() const {
    std::vector<PortProcess> filtered = filteredProcesses();
    if (selectedIndex_ < 0 || static_cast<size_t>(selectedIndex_) >= filtered.size()) {
        return std::nullopt;
    }
    return std::move(filtered[selectedIndex_]);
}

void ProcessStore::refresh() {
    if (refreshTask_) {
        refreshTask_->request_stop();
    }
    refreshTask_.emplace();
    // The task frees itself when done; the stop source is all we need to keep.
    reloadUnless(refreshTask_->get_token());
}

QCoro::Task<> ProcessStore::reload() {
    return reloadUnless({});
}

QCoro::Task<> ProcessStore::reloadUnless(std::stop_token cancelled) {
    const int64_t generation = reloadGeneration_++;
    QPointer<ProcessStore> self(this);
    std::vector<PortProcess> scanned = co_await scanOnPool(scanner_);
    if (!self || cancelled.stop_requested() || reloadGeneration_ != generation + 1) {
        co_return;
    }
    setProcesses(std::move(scanned));
    clampSelection();
}

void ProcessStore::reset() {
    if (refreshTask_) {
        refreshTask_->request_stop();
        refreshTask_.reset();
    }
    ++reloadGeneration_;
    setQuery(QString());
    setSelectedIndex(0);
    setFeedback(std::nullopt);
    setProcesses({});
}

void ProcessStore::clampSelection() {
    const auto count = static_cast<int64_t>(filteredProcesses().size());
    if (count == 0) {
        setSelectedIndex(0);
        return;
    }
    setSelectedIndex(static_cast<int>(std::min<int64_t>(count - 1, std::max(selectedIndex_, 0))));
}

void ProcessStore::moveSelection(int delta) {
    const auto count = static_cast<int64_t>(filteredProcesses().size());
    if (count == 0) {
        setSelectedIndex(0);
        return;
    }
    // A floored remainder: a step further back than the list is long still
    // lands inside it.
    const int64_t moved = (static_cast<int64_t>(selectedIndex_) + delta) % count;
    setSelectedIndex(static_cast<int>(moved < 0 ? moved + count : moved));
}

void ProcessStore::pullSelectionIntoList() {
    const auto count = static_cast<int64_t>(filteredProcesses().size());
    const int64_t last = std::max<int64_t>(count - 1, 0);
    setSelectedIndex(static_cast<int>(std::min<int64_t>(selectedIndex_, last)));
}

void ProcessStore::removeProcess(int32_t pid) {
    const auto removed =
        std::erase_if(processes_, [pid](const PortProcess& p) { return p.pid == pid; });
    if (removed > 0) {
        emit processesChanged();
    }
}

QCoro::Task<bool> ProcessStore::kill(PortProcess row) {
    const std::string id = row.id();
    const auto stored = std::find_if(processes_.begin(), processes_.end(),
                                     [&](const PortProcess& p) { return p.id() == id; });
    if (stored == processes_.end()) {
        co_return false;
    }
    co_return co_await killRow(*stored);
}

QCoro::Task<bool> ProcessStore::killSelected() {
    std::optional<PortProcess> target = selectedProcess();
    if (!target) {
        co_return false;
    }
    co_return co_await killRow(std::move(*target));
}

QCoro::Task<bool> ProcessStore::killRow(PortProcess target) {
    QPointer<ProcessStore> self(this);
    const KillOutcome outcome = co_await killOnPool(killEngine_, target.pid, target.startTime,
                                                    killMode_, lifetime_.get_token());
    if (!self) {
        co_return outcome.kind == KillOutcome::Kind::killed;
    }
    switch (outcome.kind) {
        case KillOutcome::Kind::killed:
            removeProcess(target.pid);
            setFeedback(singleKillFeedback(target.port, outcome));
            pullSelectionIntoList();
            co_return true;
        case KillOutcome::Kind::stale:
            // The user sees the current list together with the message.
            co_await reload();
            if (self) {
                setFeedback(singleKillFeedback(target.port, outcome));
            }
            co_return false;
        case KillOutcome::Kind::failed:
            setFeedback(singleKillFeedback(target.port, outcome));
            co_return false;
    }
    co_return false;
}

QCoro::Task<std::vector<PortProcess>> ProcessStore::killBatch(std::set<std::string> ids) {
    const std::vector<KillGroup> groups = killGroups(processes_, ids);
    if (groups.empty()) {
        co_return std::vector<PortProcess>{};
    }
    QPointer<ProcessStore> self(this);
    BatchTally tally;
    for (const KillGroup& group : groups) {
        const KillOutcome outcome = co_await killOnPool(killEngine_, group.pid, group.startTime,
                                                        killMode_, lifetime_.get_token());
        tally.record(group, outcome);
        if (!self) {
            // Nobody is left to report to: signal no further process.
            co_return tally.killedRows();
        }
        if (outcome.kind == KillOutcome::Kind::killed) {
            removeProcess(group.pid);
        }
    }
    if (tally.needsReload()) {
        co_await reload();
        if (!self) {
            co_return tally.killedRows();
        }
    }
    if (std::optional<Feedback> feedback = tally.feedback()) {
        setFeedback(std::move(*feedback));
    }
    pullSelectionIntoList();
    co_return tally.killedRows();
}

}  // namespace halvo
