#include "state/process_store.h"

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QFutureInterface>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "kill/kill_batch.h"
#include "kill/search_filter.h"
#include "kill/tree_kill.h"

namespace halvo {
namespace {

// The distribution's Qt is not built with ThreadSanitizer, so the locks with
// which its thread pool and futures hand work over are invisible to it. These
// two calls tell it about each hand-over; they do nothing in other builds.
#if defined(__SANITIZE_THREAD__)
void handOver(const void* sync) {
    __tsan_release(const_cast<void*>(sync));
}
void takeOver(const void* sync) {
    __tsan_acquire(const_cast<void*>(sync));
}
#else
void handOver(const void*) {}
void takeOver(const void*) {}
#endif

// Only its address is used: every job takes over what its starter did before.
const char kJobsStarted = 0;

// Runs `work` on the Qt thread pool. The awaiting coroutine resumes on its own
// thread once the work is done. The job holds what it needs itself: it may
// outlive the store that started it.
template <class Work>
QCoro::Task<std::invoke_result_t<Work&>> onThreadPool(Work work) {
    using Result = std::invoke_result_t<Work&>;
    struct Job {
        explicit Job(Work w) : work(std::move(w)) {}
        Work work;
        std::optional<Result> result;
        QFutureInterface<void> done;
    };
    auto job = std::make_shared<Job>(std::move(work));
    job->done.reportStarted();
    // Named, not a temporary of the co_await: GCC 12 may destroy those twice.
    QFuture<void> finished = job->done.future();
    std::function<void()> run = [job] {
        takeOver(&kJobsStarted);
        job->result.emplace(job->work());
        handOver(job.get());
        job->done.reportFinished();
    };
    handOver(&kJobsStarted);
    QThreadPool::globalInstance()->start(std::move(run));
    co_await finished;
    takeOver(job.get());
    co_return std::move(*job->result);
}

// A tree kill that ended the listener but not all of the tree says so, or
// the user would take a supervisor that is still running for gone.
Feedback withTreeLeftovers(Feedback feedback, const std::vector<std::string>& othersNotEnded) {
    if (othersNotEnded.empty()) {
        return feedback;
    }
    return feedback::Failure{feedbackText(feedback) + " \u2014 " + othersNotEnded.front()};
}

}  // namespace

ProcessStore::ProcessStore(std::shared_ptr<PortScanning> scanner,
                           std::shared_ptr<ProcessKilling> killEngine, QObject* parent)
    : ProcessStore(std::move(scanner), std::move(killEngine),
                   std::make_shared<DockerContainerStopper>(), parent) {}

ProcessStore::ProcessStore(std::shared_ptr<PortScanning> scanner,
                           std::shared_ptr<ProcessKilling> killEngine,
                           std::shared_ptr<ContainerStopping> containers, QObject* parent)
    : QObject(parent),
      scanner_(std::move(scanner)),
      killEngine_(std::move(killEngine)),
      containers_(std::move(containers)) {}

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
    searchTexts_ = canonicalSearchTexts(processes_);
    refilter();
    emit processesChanged();
}

void ProcessStore::refilter() {
    filtered_.clear();
    if (query_.isEmpty()) {
        return;
    }
    const QByteArray query = query_.toUtf8();
    for (size_t i : matchingRows(processes_, searchTexts_,
                                 std::string_view(query.constData(), query.size()))) {
        filtered_.push_back(processes_[i]);
    }
}

template <class Predicate>
void ProcessStore::removeRowsIf(Predicate remove) {
    size_t kept = 0;
    for (size_t i = 0; i < processes_.size(); ++i) {
        if (remove(processes_[i])) {
            continue;
        }
        if (kept != i) {
            processes_[kept] = std::move(processes_[i]);
            searchTexts_[kept] = std::move(searchTexts_[i]);
        }
        ++kept;
    }
    if (kept == processes_.size()) {
        return;
    }
    processes_.resize(kept);
    searchTexts_.resize(kept);
    refilter();
    emit processesChanged();
}

void ProcessStore::setUnlistedListeners(std::vector<ForeignListener> foreign,
                                        std::vector<LsofRow> hidden) {
    if (foreign == foreignListeners_ && hidden == hiddenListeners_) {
        return;
    }
    foreignListeners_ = std::move(foreign);
    hiddenListeners_ = std::move(hidden);
    emit foreignListenersChanged();
}

void ProcessStore::setQuery(const QString& query) {
    if (query != query_) {
        query_ = query;
        refilter();
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

void ProcessStore::setKillProcessTree(bool on) {
    if (on == killProcessTree_) {
        return;
    }
    killProcessTree_ = on;
    emit killProcessTreeChanged();
}

void ProcessStore::setKillHelpers(std::shared_ptr<ProcessTreeReading> tree,
                                  std::shared_ptr<RestartWatching> restarts) {
    treeReader_ = std::move(tree);
    restartWatch_ = std::move(restarts);
}

void ProcessStore::setFocusRequestID(const QUuid& id) {
    if (id == focusRequestID_) {
        return;
    }
    focusRequestID_ = id;
    emit focusRequestIDChanged();
}

std::optional<PortProcess> ProcessStore::selectedProcess() const {
    const std::vector<PortProcess>& shown = filteredProcesses();
    if (selectedIndex_ < 0 || static_cast<size_t>(selectedIndex_) >= shown.size()) {
        return std::nullopt;
    }
    return shown[static_cast<size_t>(selectedIndex_)];
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
    auto scan = onThreadPool([scanner = scanner_] { return scanner->scanAll(); });
    PortScan scanned = co_await scan;
    if (!self || cancelled.stop_requested() || reloadGeneration_ != generation + 1) {
        co_return;
    }
    // The listeners first: whoever redraws on processesChanged sees both.
    setUnlistedListeners(std::move(scanned.foreign), std::move(scanned.notDevelopment));
    // The selection stays on its row while rows around it come and go, so
    // that Return ends what was highlighted, not what slid into its place.
    const std::optional<PortProcess> selected = selectedProcess();
    setProcesses(std::move(scanned.processes));
    const std::vector<PortProcess>& shown = filteredProcesses();
    // By PID and port, the parts of id(), without building a text per row.
    const auto kept =
        selected ? std::find_if(shown.begin(), shown.end(),
                                [&](const PortProcess& p) {
                                    return p.pid == selected->pid && p.port == selected->port;
                                })
                 : shown.end();
    if (kept != shown.end()) {
        setSelectedIndex(static_cast<int>(kept - shown.begin()));
    } else {
        clampSelection();
    }
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
    setUnlistedListeners({}, {});
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

QCoro::Task<TreeKillResult> ProcessStore::killOnPool(int32_t pid, ProcessStartTime startTime) {
    return onThreadPool([engine = killEngine_, tree = killProcessTree_ ? treeReader_ : nullptr, pid,
                         startTime, mode = killMode_, stop = lifetime_.get_token()] {
        if (tree) {
            return killProcessTrees(*engine, *tree, {{pid, startTime}}, mode, stop);
        }
        return TreeKillResult{{engine->kill(pid, startTime, mode, stop)}, {}};
    });
}

QCoro::Task<> ProcessStore::watchForRestart(std::vector<PortProcess> killedRows,
                                            ProcessStartTime killBegan) {
    if (!restartWatch_ || killedRows.empty()) {
        co_return;
    }
    const int64_t generation = killGeneration_;
    QPointer<ProcessStore> self(this);
    auto watching = onThreadPool([watch = restartWatch_, killedRows = std::move(killedRows),
                                  killBegan, stop = lifetime_.get_token()] {
        return watchKilledRows(*watch, killedRows, killBegan, stop);
    });
    std::optional<feedback::Restarted> restarted = co_await watching;
    // A closed panel (a reset) still wants to hear it when it opens again.
    if (!self || !restarted || killGeneration_ != generation) {
        co_return;
    }
    setFeedback(std::move(*restarted));
    co_await reload();
}

void ProcessStore::removeProcess(int32_t pid) {
    removeRowsIf([pid](const PortProcess& p) { return p.pid == pid; });
}

QCoro::Task<bool> ProcessStore::kill(PortProcess row) {
    const std::string id = row.id();
    const auto stored = std::find_if(processes_.begin(), processes_.end(),
                                     [&](const PortProcess& p) { return p.id() == id; });
    if (stored == processes_.end()) {
        co_return false;
    }
    // A container row's id is only its port: another container may publish
    // it since the caller's scan, and must not be stopped in its place.
    if (stored->stopsContainer() && stored->dockerContext != row.dockerContext) {
        QPointer<ProcessStore> self(this);
        co_await reload();
        if (self) {
            setFeedback(feedback::Stale{row.port});
        }
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

void ProcessStore::removeContainer(const DockerContext& container) {
    removeRowsIf(
        [&](const PortProcess& p) { return p.stopsContainer() && *p.dockerContext == container; });
}

QCoro::Task<bool> ProcessStore::stopContainerRow(PortProcess target) {
    QPointer<ProcessStore> self(this);
    const int64_t generation = ++killGeneration_;
    const DockerContext container = *target.dockerContext;
    auto stopping =
        onThreadPool([containers = containers_, container] { return containers->stop(container); });
    const KillOutcome outcome = co_await stopping;
    const bool stopped = outcome.kind == KillOutcome::Kind::killed;
    if (!self) {
        co_return stopped;
    }
    if (stopped) {
        removeContainer(container);
    }
    // A stop takes seconds: a kill started since has the last word.
    if (killGeneration_ == generation) {
        setFeedback(singleKillFeedback(target, outcome));
    }
    pullSelectionIntoList();
    co_return stopped;
}

QCoro::Task<bool> ProcessStore::killRow(PortProcess target) {
    if (target.stopsContainer()) {
        co_return co_await stopContainerRow(std::move(target));
    }
    QPointer<ProcessStore> self(this);
    ++killGeneration_;
    const ProcessStartTime killBegan = processClockNow();
    const bool treeKill = killProcessTree_ && treeReader_;
    auto killing = killOnPool(target.pid, target.startTime);
    const TreeKillResult ended = co_await killing;
    const KillOutcome outcome = ended.listeners.at(0);
    if (!self) {
        co_return outcome.kind == KillOutcome::Kind::killed;
    }
    switch (outcome.kind) {
        case KillOutcome::Kind::killed:
            removeProcess(target.pid);
            setFeedback(
                withTreeLeftovers(singleKillFeedback(target.port, outcome), ended.othersNotEnded));
            pullSelectionIntoList();
            // The watch would replace what it says of the tree left alive.
            if (ended.othersNotEnded.empty()) {
                watchForRestart({target}, killBegan);
            }
            if (treeKill) {
                // Other rows may have gone with the tree.
                co_await reload();
            }
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
    ++killGeneration_;
    const ProcessStartTime killBegan = processClockNow();
    const bool treeKill = killProcessTree_ && treeReader_;
    // One call for the whole batch: the engine signals every process before it
    // waits, so stubborn servers share one grace second, and workers that an
    // earlier process of the batch took down count as ended, not as changed.
    std::vector<KillTarget> targets;
    for (const KillGroup& group : groups) {
        if (!group.container) {
            targets.push_back({group.pid, group.startTime});
        }
    }
    auto killing = onThreadPool([engine = killEngine_, containers = containers_,
                                 tree = treeKill ? treeReader_ : nullptr, groups, targets,
                                 mode = killMode_, stop = lifetime_.get_token()] {
        TreeKillResult ended = tree ? killProcessTrees(*engine, *tree, targets, mode, stop)
                                    : TreeKillResult{engine->killAll(targets, mode, stop), {}};
        ended.listeners = withContainersStopped(groups, std::move(ended.listeners), *containers);
        return ended;
    });
    const TreeKillResult ended = co_await killing;
    const std::vector<KillOutcome>& outcomes = ended.listeners;
    BatchTally tally;
    for (size_t i = 0; i < groups.size() && i < outcomes.size(); ++i) {
        tally.record(groups[i], outcomes[i]);
        if (self && outcomes[i].kind == KillOutcome::Kind::killed) {
            if (groups[i].container) {
                removeContainer(*groups[i].container);
            } else {
                removeProcess(groups[i].pid);
            }
        }
    }
    if (!self) {
        co_return tally.killedRows();
    }
    // Other rows may have gone with a tree.
    if (tally.needsReload() || (treeKill && !tally.killedRows().empty())) {
        co_await reload();
        if (!self) {
            co_return tally.killedRows();
        }
    }
    if (std::optional<Feedback> feedback = tally.feedback()) {
        setFeedback(withTreeLeftovers(std::move(*feedback), ended.othersNotEnded));
    }
    pullSelectionIntoList();
    if (tally.failedCount() == 0 && ended.othersNotEnded.empty()) {
        watchForRestart(tally.killedRows(), killBegan);
    }
    co_return tally.killedRows();
}

}  // namespace halvo
