#include "state/process_store.h"

#include <QPointer>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <utility>

#include "kill/kill_batch.h"
#include "kill/search_filter.h"
#include "state/thread_pool_task.h"

namespace halvo {

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
    std::vector<LeftAloneRow> leftAlone = takeLeftAlone(processes, leaveAlone_);
    if (leftAlone != leftAlone_) {
        leftAlone_ = std::move(leftAlone);
        emit foreignListenersChanged();
    }
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

void ProcessStore::setLeaveAlone(LeaveAloneList list) {
    if (list == leaveAlone_) {
        return;
    }
    leaveAlone_ = std::move(list);
    std::vector<PortProcess> rows = processes_;
    for (const LeftAloneRow& left : leftAlone_) {
        rows.push_back(left.row);
    }
    // Back in scan order, which is by port, then PID.
    std::stable_sort(rows.begin(), rows.end(), [](const PortProcess& a, const PortProcess& b) {
        return a.port != b.port ? a.port < b.port : a.pid < b.pid;
    });
    setProcesses(std::move(rows));
    clampSelection();
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

bool ProcessStore::isStopping(const DockerContext& container) const {
    return stopping_.contains(containerLabel(container));
}

QString ProcessStore::progressText() const {
    if (stopping_.empty()) {
        return {};
    }
    QStringList names;
    for (const std::string& name : std::set<std::string>(stopping_.begin(), stopping_.end())) {
        names.append(QString::fromStdString(name));
    }
    return (names.size() == 1 ? QStringLiteral("Stopping container %1\u2026")
                              : QStringLiteral("Stopping containers %1\u2026"))
        .arg(names.join(QStringLiteral(", ")));
}

void ProcessStore::trackStops(const std::vector<std::string>& names, bool running) {
    const QString before = progressText();
    for (const std::string& name : names) {
        if (running) {
            stopping_.insert(name);
        } else {
            stopping_.erase(stopping_.find(name));
        }
    }
    if (progressText() != before) {
        emit progressTextChanged();
    }
}

void ProcessStore::setRelisting(bool on) {
    if (on != std::exchange(relisting_, on)) {
        emit relistingChanged();
    }
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

void ProcessStore::setKillThroughSupervisor(bool on) {
    if (on == killThroughSupervisor_) {
        return;
    }
    killThroughSupervisor_ = on;
    emit killThroughSupervisorChanged();
}

void ProcessStore::setSupervisorStopper(std::shared_ptr<SupervisorStopping> supervisors) {
    supervisors_ = std::move(supervisors);
}

void ProcessStore::setKillHelpers(std::shared_ptr<ProcessTreeReading> tree,
                                  std::shared_ptr<RestartWatching> restarts) {
    treeReader_ = std::move(tree);
    restartWatch_ = std::move(restarts);
}

void ProcessStore::setFocusRequestId(const QUuid& id) {
    if (id == focusRequestId_) {
        return;
    }
    focusRequestId_ = id;
    emit focusRequestIdChanged();
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

void ProcessStore::relist() {
    setUnlistedListeners({}, {});
    setProcesses({});
    clampSelection();
    setRelisting(true);
    refresh();
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
    setRelisting(false);
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
    setRelisting(false);
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

QCoro::Task<bool> ProcessStore::killRow(PortProcess target) {
    // Named, not temporaries of the co_await: GCC 12 mishandles those.
    const std::set<std::string> ids{target.id()};
    const std::vector<PortProcess> rows{std::move(target)};
    auto killing = killNow(killGroups(rows, ids, supervisorChoice()));
    const KillReport report = co_await killing;
    co_return report.allEnded;
}

QCoro::Task<std::vector<PortProcess>> ProcessStore::killBatch(std::set<std::string> ids) {
    auto killing = killNow(killGroups(processes_, ids, supervisorChoice()));
    const KillReport report = co_await killing;
    co_return report.killedRows;
}

QCoro::Task<KillReport> ProcessStore::killNow(std::vector<KillGroup> groups) {
    if (groups.empty()) {
        co_return KillReport{};
    }
    if (endings_) {
        endings_->record(groups);
    }
    QPointer<ProcessStore> self(this);
    const int64_t generation = ++killGeneration_;
    std::vector<std::string> stops;
    for (const KillGroup& group : groups) {
        if (group.container) {
            stops.push_back(containerLabel(*group.container));
        }
    }
    trackStops(stops, true);
    auto killing =
        onThreadPool([engine = killEngine_, containers = containers_, tree = treeReader_,
                      watch = restartWatch_, supervisors = supervisors_, groups, mode = killMode_,
                      treeKill = killProcessTree_, stop = lifetime_.get_token()] {
            return runKillSequence(
                {groups, mode, treeKill},
                {*engine, *containers, tree.get(), watch.get(), supervisors.get()}, stop);
        });
    KillReport report = co_await killing;
    if (!self) {
        co_return report;
    }
    for (size_t i = 0; i < groups.size() && i < report.outcomes.size(); ++i) {
        if (report.outcomes[i].kind != KillOutcome::Kind::killed) {
            continue;
        }
        if (groups[i].container) {
            removeContainer(*groups[i].container);
        } else {
            removeProcess(groups[i].pid);
        }
    }
    // The user sees the current list together with the message.
    if (report.needsReload) {
        co_await reload();
        if (!self) {
            co_return report;
        }
    }
    // A container stop takes seconds: a kill started since has the last word.
    if (report.feedback && killGeneration_ == generation) {
        setFeedback(*report.feedback);
    }
    // Only now, so that the outcome takes the progress's place at once.
    trackStops(stops, false);
    pullSelectionIntoList();
    co_return report;
}

}  // namespace halvo
