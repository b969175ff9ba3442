// The observable model behind the status menu and the kill panel: the scanned
// ports, the search query, the keyboard selection, the kill mode and the
// message of the last kill. Scans and kills run on the Qt thread pool; the
// store itself lives on the main thread and is only touched there, including
// where its coroutines resume.
//
// Every published property has a change signal that fires after the new value
// is in place, on the main thread, and only when the value really changed.
#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "kill/container_stopper.h"
#include "kill/feedback.h"
#include "kill/halvo_endings.h"
#include "kill/kill_sequence.h"
#include "kill/leave_alone_list.h"
#include "kill/process_killing.h"
#include "kill/restart_watch.h"
#include "kill/supervisor_stopper.h"
#include "scan/port_records.h"
#include "scan/port_scanner.h"
#include "scan/process_tree.h"

Q_DECLARE_METATYPE(halvo::PortProcess)
Q_DECLARE_METATYPE(std::vector<halvo::PortProcess>)
Q_DECLARE_METATYPE(std::vector<halvo::ForeignListener>)
Q_DECLARE_METATYPE(halvo::KillMode)

namespace halvo {

class ProcessStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<halvo::PortProcess> processes READ processes NOTIFY processesChanged)
    Q_PROPERTY(std::vector<halvo::ForeignListener> foreignListeners READ foreignListeners NOTIFY
                   foreignListenersChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(
        int selectedIndex READ selectedIndex WRITE setSelectedIndex NOTIFY selectedIndexChanged)
    // The variant of Feedback cannot be a Qt meta type (its operator< does not
    // compile), so the property carries the text; feedback() the value.
    Q_PROPERTY(QString feedbackText READ feedbackText NOTIFY feedbackChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressTextChanged)
    Q_PROPERTY(bool relisting READ relisting NOTIFY relistingChanged)
    Q_PROPERTY(halvo::KillMode killMode READ killMode WRITE setKillMode NOTIFY killModeChanged)
    Q_PROPERTY(bool killProcessTree READ killProcessTree WRITE setKillProcessTree NOTIFY
                   killProcessTreeChanged)
    Q_PROPERTY(bool killThroughSupervisor READ killThroughSupervisor WRITE setKillThroughSupervisor
                   NOTIFY killThroughSupervisorChanged)
    Q_PROPERTY(QUuid focusRequestId READ focusRequestId WRITE setFocusRequestId NOTIFY
                   focusRequestIdChanged)

  public:
    // Container rows are stopped with `docker stop`.
    ProcessStore(std::shared_ptr<PortScanning> scanner, std::shared_ptr<ProcessKilling> killEngine,
                 QObject* parent = nullptr);
    // Container rows (no PID) are stopped by `containers`.
    ProcessStore(std::shared_ptr<PortScanning> scanner, std::shared_ptr<ProcessKilling> killEngine,
                 std::shared_ptr<ContainerStopping> containers, QObject* parent = nullptr);
    // Work still in flight finishes on its own and no longer touches the store;
    // a graceful kill skips the rest of its grace wait.
    ~ProcessStore() override;

    // The last scan, in the scanner's order, minus the rows of killed processes.
    const std::vector<PortProcess>& processes() const { return processes_; }
    // The listening ports of the last scan that the user cannot end (see
    // PortScan), published with the processes.
    const std::vector<ForeignListener>& foreignListeners() const { return foreignListeners_; }
    // The user's own listeners of the last scan that the development filter
    // left out; they change with foreignListeners() and under its signal.
    const std::vector<LsofRow>& hiddenListeners() const { return hiddenListeners_; }
    // The rows of the last scan that the leave-alone list keeps out of
    // processes(), so that no kill reaches them; they change under
    // foreignListenersChanged.
    const std::vector<LeftAloneRow>& leftAlone() const { return leftAlone_; }
    // Takes effect at once: rows move between processes() and leftAlone().
    void setLeaveAlone(LeaveAloneList list);
    // The search text as typed. Setting it keeps the selection inside the new
    // filtered list.
    QString query() const { return query_; }
    void setQuery(const QString& query);
    // Index into filteredProcesses(), not into processes().
    int selectedIndex() const { return selectedIndex_; }
    void setSelectedIndex(int index);
    // What the last kill came to; nothing means no message.
    const std::optional<Feedback>& feedback() const { return feedback_; }
    void setFeedback(std::optional<Feedback> feedback);
    // The message as shown; empty when there is none.
    QString feedbackText() const;
    // "Stopping container NAME…" while container stops run, which take
    // seconds; they outlive a reset(), and so does this text. Empty otherwise.
    QString progressText() const;
    // Whether a stop of `container` runs.
    bool isStopping(const DockerContext& container) const;
    KillMode killMode() const { return killMode_; }
    void setKillMode(KillMode mode);
    // Kills end each target's whole process tree (see kill/tree_kill.h);
    // only once setKillHelpers() gave a tree reader.
    bool killProcessTree() const { return killProcessTree_; }
    void setKillProcessTree(bool on);
    // The tree reader for killProcessTree and the look at the freed ports
    // after every successful kill; either may be null (no tree kills, no look).
    void setKillHelpers(std::shared_ptr<ProcessTreeReading> tree,
                        std::shared_ptr<RestartWatching> restarts);
    // Rows that a systemd unit or pm2 app runs are ended by stopping it (on
    // by default); off ends the process itself, which it may start again.
    bool killThroughSupervisor() const { return killThroughSupervisor_; }
    void setKillThroughSupervisor(bool on);
    // What stops them; `systemctl --user` and pm2 unless set.
    void setSupervisorStopper(std::shared_ptr<SupervisorStopping> supervisors);
    // Told of every kill's targets before the first signal; none by default.
    void setEndings(std::optional<HalvoEndings> endings) { endings_ = std::move(endings); }
    // Each new value asks the kill panel to focus its search field; whoever
    // shows the panel sets a fresh one.
    QUuid focusRequestId() const { return focusRequestId_; }
    void setFocusRequestId(const QUuid& id);

    // The rows the query shows, kept up to date with the rows and the query:
    // re-read them on processesChanged, queryChanged and (for the selection)
    // selectedIndexChanged.
    const std::vector<PortProcess>& filteredProcesses() const {
        return query_.isEmpty() ? processes_ : filtered_;
    }
    std::optional<PortProcess> selectedProcess() const;

    // Starts a reload in the background, replacing any refresh still running.
    void refresh();
    // Empties the list and the listeners of others, then refreshes: whoever
    // shows the list from now on sees only what a scan started now found.
    void relist();
    // From relist() until a scan is published (or a reset()).
    bool relisting() const { return relisting_; }
    // Scans now and publishes the result unless a later reload or a reset()
    // happened meanwhile.
    QCoro::Task<> reload();
    // Forgets everything shown: cancels the refresh, drops reloads in flight,
    // clears query, selection, feedback, list and the listeners of others.
    void reset();

    // Arrow keys: +1 down, -1 up, wrapping around the filtered list.
    void moveSelection(int delta);
    // Keeps selectedIndex inside the filtered list, on the same index if it can.
    void clampSelection();

    // Kills the stored row with the id of `row`; false when there is none or
    // its port was not freed.
    QCoro::Task<bool> kill(PortProcess row);
    // Kills selectedProcess().
    QCoro::Task<bool> killSelected();
    // Kills the rows whose id is in `ids`, process after process, and returns
    // those killed (in kill order).
    QCoro::Task<std::vector<PortProcess>> killBatch(std::set<std::string> ids);

  signals:
    void processesChanged();
    void foreignListenersChanged();
    void queryChanged();
    void selectedIndexChanged();
    void feedbackChanged();
    void progressTextChanged();
    void relistingChanged();
    void killModeChanged();
    void killProcessTreeChanged();
    void killThroughSupervisorChanged();
    void focusRequestIdChanged();

  private:
    void setProcesses(std::vector<PortProcess> processes);
    void setRelisting(bool on);
    // Counts the stops of the containers `names` in (running) or out.
    void trackStops(const std::vector<std::string>& names, bool running);
    void setUnlistedListeners(std::vector<ForeignListener> foreign, std::vector<LsofRow> hidden);
    // Removes the rows `remove` names, with their search texts.
    template <class Predicate>
    void removeRowsIf(Predicate remove);
    // Re-derives filtered_ after the rows or the query changed.
    void refilter();
    QCoro::Task<> reloadUnless(std::stop_token cancelled);
    // Ends one row the way a batch does; true when its port was freed.
    QCoro::Task<bool> killRow(PortProcess target);
    // The shared kill sequence on the thread pool with the current mode and
    // tree choice; then the ended rows leave the list and the feedback is set
    // (unless a later kill has spoken since).
    QCoro::Task<KillReport> killNow(std::vector<KillGroup> groups);
    void removeProcess(int32_t pid);
    SupervisorChoice supervisorChoice() const {
        return killThroughSupervisor_ ? SupervisorChoice::stopSupervisor
                                      : SupervisorChoice::endProcess;
    }
    void removeContainer(const DockerContext& container);
    // selectedIndex = min(selectedIndex, last filtered index), after a kill.
    void pullSelectionIntoList();

    std::shared_ptr<PortScanning> scanner_;
    std::shared_ptr<ProcessKilling> killEngine_;
    std::shared_ptr<ContainerStopping> containers_;

    std::vector<PortProcess> processes_;
    // canonicalSearchTexts(processes_), derived once per scan rather than on
    // every key press.
    std::vector<std::string> searchTexts_;
    // The rows a non-empty query shows; an empty query shows processes_.
    std::vector<PortProcess> filtered_;
    std::vector<ForeignListener> foreignListeners_;
    std::vector<LsofRow> hiddenListeners_;
    LeaveAloneList leaveAlone_;
    std::vector<LeftAloneRow> leftAlone_;
    QString query_;
    int selectedIndex_ = 0;
    std::optional<Feedback> feedback_;
    // The names of the containers being stopped, once per stop.
    std::multiset<std::string> stopping_;
    bool relisting_ = false;
    KillMode killMode_ = KillMode::graceful;
    bool killProcessTree_ = false;
    bool killThroughSupervisor_ = true;
    std::shared_ptr<SupervisorStopping> supervisors_ = std::make_shared<SystemSupervisorStopper>();
    std::shared_ptr<ProcessTreeReading> treeReader_;
    std::shared_ptr<RestartWatching> restartWatch_;
    std::optional<HalvoEndings> endings_;
    int64_t killGeneration_ = 0;  // counts kills, so a slow one knows it was overtaken
    QUuid focusRequestId_ = QUuid::createUuid();

    // Stops the refresh started last; nothing when none was started or it was reset.
    std::optional<std::stop_source> refreshTask_;
    int64_t reloadGeneration_ = 0;
    // Stopped when the store goes, to cut graceful kills short.
    std::stop_source lifetime_;
};

}  // namespace halvo
