#include "panel/kill_panel_view.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_set>

#include "kill/foreign_listeners.h"
#include "kill/leave_alone_list.h"
#include "kill/recent_kills.h"
#include "kill/search_filter.h"
#include "panel/kill_panel_model.h"
#include "panel/kill_panel_table.h"
#include "panel/port_reference_popover.h"
#include "state/process_store.h"
#include "ui/controls.h"
#include "ui/inert_text.h"
#include "ui/palette.h"

namespace halvo {

HalvoKillPanelView::HalvoKillPanelView(ProcessStore& store, DefaultsStoring& defaults,
                                       std::function<void()> close, QWidget* parent)
    : QWidget(parent),
      store_(store),
      defaults_(defaults),
      close_(std::move(close)),
      search_(new ui::TAVSearchField(this)),
      help_(new QToolButton(this)),
      listSection_(new QWidget(this)),
      model_(new KillPanelModel(this)),
      table_(new KillPanelTable(listSection_)),
      empty_(new ui::TAVEmptyState(ui::Symbol::search, listSection_)),
      feedback_(new ui::ElidedLabel(this)),
      processTree_(new TickBox(QStringLiteral("Include process tree"), this)),
      throughSupervisor_(new TickBox(QStringLiteral("Via supervisor"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)),
      kill_(new ui::TAVButton(QString(), ui::TAVButton::Variant::primary, this)) {
    describeControls();
    layOut();
    connectControls();
    followStore();
    search_->setText(store_.query());
    updateFeedback();
    setFocusProxy(search_);
    updateRows();
}

// Names, texts and accessibility descriptions; the panel's own look.
void HalvoKillPanelView::describeControls() {
    // Named for tests and for finding them in an accessibility tree.
    const std::pair<QWidget*, const char*> names[] = {
        {search_, "search"},           {help_, "help"},
        {listSection_, "list"},        {table_, "table"},
        {empty_, "emptyState"},        {feedback_, "feedback"},
        {cancel_, "cancel"},           {kill_, "kill"},
        {processTree_, "processTree"}, {throughSupervisor_, "throughSupervisor"}};
    for (auto [widget, name] : names) {
        widget->setObjectName(QString::fromLatin1(name));
    }
    search_->setPlaceholderText(QStringLiteral("Search ports, ranges, process, or project"));
    search_->setAccessibleName(QStringLiteral("Search listening ports"));
    search_->setAccessibleDescription(
        QStringLiteral("Search by port, process, project, path, or PID"));
    search_->installEventFilter(this);

    help_->setIcon(ui::symbolIcon(ui::Symbol::help));
    help_->setIconSize(QSize(20, 20));
    help_->setFixedSize(32, 32);
    help_->setAutoRaise(true);
    help_->setFocusPolicy(Qt::NoFocus);
    help_->setToolTip(QStringLiteral("Common ports and search examples"));
    help_->setAccessibleName(QStringLiteral("Port search help"));
    help_->setAccessibleDescription(QStringLiteral("Shows common ports and search examples"));

    table_->setModel(model_);
    table_->setAccessibleName(QStringLiteral("Listening ports"));
    empty_->setFixedHeight(kEmptyListHeight);
    QPalette secondary = feedback_->palette();
    secondary.setColor(QPalette::WindowText, QColor(ui::palette::textSecondary));
    feedback_->setPalette(secondary);
    cancel_->setAccessibleName(QStringLiteral("Cancel and close kill panel"));
    // Keyboard focus stays in the search field; the box is for the pointer.
    processTree_->setFocusPolicy(Qt::NoFocus);
    processTree_->setToolTip(
        QStringLiteral("Also end the processes that started the server and its children"));
    processTree_->setChecked(store_.killProcessTree());
    throughSupervisor_->setFocusPolicy(Qt::NoFocus);
    throughSupervisor_->setToolTip(
        QStringLiteral("Stop the systemd unit or pm2 app that runs the server, which would "
                       "start it again; off ends the process itself"));
    throughSupervisor_->setChecked(store_.killThroughSupervisor());
}

// The search row, the list, and the footer with the outcome and the buttons.
void HalvoKillPanelView::layOut() {
    auto* searchRow = new QHBoxLayout;
    searchRow->setSpacing(8);
    searchRow->addWidget(search_, 1);
    searchRow->addWidget(help_);

    auto* list = new QVBoxLayout(listSection_);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(0);
    list->addWidget(table_);
    list->addWidget(empty_);
    list->addStretch();

    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    footer->addWidget(feedback_, 1);
    footer->addWidget(processTree_);
    footer->addWidget(throughSupervisor_);
    footer->addWidget(cancel_);
    footer->addWidget(kill_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(12);
    layout->addLayout(searchRow);
    layout->addWidget(listSection_);
    layout->addStretch(1);
    layout->addLayout(footer);
}

// What the user does: typing, keys, clicks on the rows and the buttons.
void HalvoKillPanelView::connectControls() {
    connect(search_, &QLineEdit::textEdited, &store_, &ProcessStore::setQuery);
    connect(search_, &QLineEdit::returnPressed, this, [this] { killAction(); });
    connect(help_, &QToolButton::clicked, this, &HalvoKillPanelView::togglePortHelp);
    connect(cancel_, &QPushButton::clicked, this, [this] { close_(); });
    connect(processTree_, &QCheckBox::toggled, &store_, &ProcessStore::setKillProcessTree);
    connect(&store_, &ProcessStore::killProcessTreeChanged, this,
            [this] { processTree_->setChecked(store_.killProcessTree()); });
    connect(throughSupervisor_, &QCheckBox::toggled, &store_,
            &ProcessStore::setKillThroughSupervisor);
    connect(&store_, &ProcessStore::killThroughSupervisorChanged, this, [this] {
        throughSupervisor_->setChecked(store_.killThroughSupervisor());
        updateKillButton();
    });
    connect(kill_, &QPushButton::clicked, this, [this] { killAction(); });
    connect(table_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        const std::string id = model_->rows()[static_cast<size_t>(index.row())].id();
        if (index.column() == KillPanelModel::tick) {
            toggleTick(id);
        } else if (const int row = currentRowOf(id); row >= 0) {
            store_.setSelectedIndex(row);
        }
    });
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const std::string id = model_->rows()[static_cast<size_t>(index.row())].id();
        if (const int row = currentRowOf(id); index.column() != KillPanelModel::tick && row >= 0) {
            store_.setSelectedIndex(row);
            singleKill();
        }
    });
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = table_->indexAt(at);
        if (!index.isValid()) {
            return;
        }
        const int64_t port = model_->rows()[static_cast<size_t>(index.row())].port;
        auto* menu = new QMenu(this);
        menu->setObjectName(QStringLiteral("rowMenu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("Leave Port %1 Alone").arg(port), this,
                        [this, port] { leaveAlone(port); });
        menu->popup(table_->viewport()->mapToGlobal(at));
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] { close_(); });
}

// What the store publishes: rows, query, selection, feedback, focus requests.
void HalvoKillPanelView::followStore() {
    connect(&store_, &ProcessStore::processesChanged, this,
            &HalvoKillPanelView::scheduleRowsUpdate);
    connect(&store_, &ProcessStore::foreignListenersChanged, this,
            &HalvoKillPanelView::scheduleRowsUpdate);
    connect(&store_, &ProcessStore::queryChanged, this, [this] {
        if (search_->text() != store_.query()) {
            search_->setText(store_.query());
        }
        scheduleRowsUpdate();
    });
    connect(&store_, &ProcessStore::selectedIndexChanged, this,
            &HalvoKillPanelView::updateSelection);
    connect(&store_, &ProcessStore::relistingChanged, this,
            &HalvoKillPanelView::scheduleRowsUpdate);
    connect(&store_, &ProcessStore::feedbackChanged, this, &HalvoKillPanelView::updateFeedback);
    connect(&store_, &ProcessStore::progressTextChanged, this, [this] {
        updateFeedback();
        updateKillButton();
    });
    connect(&store_, &ProcessStore::focusRequestIdChanged, this,
            [this] { search_->setFocus(Qt::OtherFocusReason); });
}

HalvoKillPanelView::~HalvoKillPanelView() = default;

int HalvoKillPanelView::listHeight(int rowCount) {
    return kColumnHeaderHeight + (rowCount > 0
                                      ? kRowContentHeight * std::min(kMaxVisibleRows, rowCount)
                                      : kEmptyListHeight);
}

std::set<std::string> HalvoKillPanelView::validSelection() const {
    if (multiSelection_.empty()) {
        return {};
    }
    std::unordered_set<std::string> ids;
    for (const PortProcess& p : store_.processes()) {
        ids.insert(p.id());
    }
    std::set<std::string> valid;
    for (const std::string& id : multiSelection_) {
        if (ids.contains(id)) {
            valid.insert(id);
        }
    }
    return valid;
}

// The rows on screen may be a moment behind the store (their update is
// queued): a click must select, and a double click kill, the process that
// was clicked, never whatever now sits at that index.
int HalvoKillPanelView::currentRowOf(const std::string& id) {
    if (rowsUpdatePending_) {
        updateRows();
    }
    const std::vector<PortProcess>& rows = model_->rows();
    const auto found =
        std::find_if(rows.begin(), rows.end(), [&](const PortProcess& p) { return p.id() == id; });
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
}

void HalvoKillPanelView::toggleTick(const std::string& id) {
    if (!multiSelection_.erase(id)) {
        multiSelection_.insert(id);
    }
    model_->setTicked(multiSelection_);
    updateKillButton();
}

// One change of the store can emit several signals (a reset emits four):
// the rows are rebuilt once, after all of them.
void HalvoKillPanelView::scheduleRowsUpdate() {
    // Hidden, the rows wait for the next showing, which lists afresh anyway.
    if (!isVisible()) {
        rowsUpdatePending_ = true;
        return;
    }
    if (!std::exchange(rowsUpdatePending_, true)) {
        QMetaObject::invokeMethod(this, &HalvoKillPanelView::updateRows, Qt::QueuedConnection);
    }
}

void HalvoKillPanelView::updateRows() {
    rowsUpdatePending_ = false;
    multiSelection_ = validSelection();
    model_->setTicked(multiSelection_);
    model_->setRows(store_.filteredProcesses());
    const int count = model_->rowCount();
    listSection_->setFixedHeight(listHeight(count));
    table_->setFixedHeight(count > 0 ? listHeight(count) : kColumnHeaderHeight);
    empty_->setVisible(count == 0);
    empty_->setTitle(store_.relisting() ? QStringLiteral("Looking for listening ports\u2026")
                     : store_.query().isEmpty() ? QStringLiteral("Nothing listening right now.")
                                                : QStringLiteral("No matching ports."));
    empty_->setBody(count == 0 ? takenPortsBody() : QString());
    updateSelection();
}

// Who holds the queried ports, when none of the user's rows does: a port
// that is taken is never left looking free. The user's own first.
QString HalvoKillPanelView::takenPortsBody() const {
    const QByteArray query = store_.query().toUtf8();
    const std::string_view text(query.constData(), static_cast<size_t>(query.size()));
    if (!parsePortQuery(normalizeQuery(text))) {
        return {};
    }
    QStringList held;
    for (const LsofRow& listener : hiddenListenersMatching(store_.hiddenListeners(), text)) {
        held.append(ui::inertText(notDevelopmentText(listener)));
    }
    for (const LeftAloneRow& left : store_.leftAlone()) {
        if (!filterProcesses({left.row}, text).empty()) {
            held.append(ui::inertText(leftAloneText(left)));
        }
    }
    for (const ForeignListener& listener :
         foreignListenersMatching(store_.foreignListeners(), text)) {
        held.append(ui::inertText(heldByOthersText(listener)));
    }
    // Room for two lines under the title.
    if (held.size() > 2) {
        const qsizetype more = held.size() - 1;
        held.resize(2);
        held.last() = QStringLiteral("and %1 more ports Halvo cannot end").arg(more);
    }
    return held.join(QLatin1Char('\n'));
}

void HalvoKillPanelView::leaveAlone(int64_t port) {
    const std::optional<std::string> path = leaveAloneListPath();
    const std::optional<std::string> error =
        path ? addToLeaveAloneList(*path, {{PortRange{port, port}, {}}})
             : std::optional<std::string>("no configuration folder");
    if (error) {
        // Said in the footer: the row stays, and the user should know why.
        store_.setFeedback(feedback::Failure{"Could not leave port " + std::to_string(port) +
                                             " alone: " + *error});
        return;
    }
    // At once, not when the file watch says so.
    store_.setLeaveAlone(loadLeaveAloneList(*path));
}

void HalvoKillPanelView::updateSelection() {
    const int selected = store_.selectedIndex();
    model_->setSelectedRow(selected);
    if (selected >= 0 && selected < model_->rowCount()) {
        table_->scrollTo(model_->index(selected, KillPanelModel::port));
    }
    updateKillButton();
}

void HalvoKillPanelView::updateKillButton() {
    const size_t ticked = validSelection().size();
    const int selected = store_.selectedIndex();
    const bool hasSelection = selected >= 0 && selected < model_->rowCount();
    // A container is stopped, not killed: the button says which it will do.
    const std::optional<PortProcess> target = store_.selectedProcess();
    const bool container = ticked == 0 && target && target->stopsContainer();
    // Its stop is under way: a second would only wait for the first.
    const bool stopping = container && store_.isStopping(*target->dockerContext);
    const bool supervised = target && target->stopsSupervisor() && store_.killThroughSupervisor();
    const QString title =
        ticked > 0  ? QStringLiteral("Kill Selected (%1)").arg(ticked)
        : stopping  ? QStringLiteral("Stopping\u2026")
        : container ? QStringLiteral("Stop container")
        : supervised
            ? QStringLiteral("Stop ") +
                  ui::inertText(std::string_view(supervisorStopTarget(*target->supervisor)))
            : QStringLiteral("Kill selected");
    const auto& rows = store_.filteredProcesses();
    throughSupervisor_->setVisible(std::any_of(
        rows.begin(), rows.end(), [](const PortProcess& row) { return row.stopsSupervisor(); }));
    kill_->setText(title);
    kill_->setAccessibleName(title);
    kill_->setEnabled((ticked > 0 || hasSelection) && !stopping);
}

// A stop under way speaks until it has its outcome.
void HalvoKillPanelView::updateFeedback() {
    const QString progress = store_.progressText();
    feedback_->setText(ui::inertText(progress.isEmpty() ? store_.feedbackText() : progress));
}

void HalvoKillPanelView::togglePortHelp() {
    if (popover_ && popover_->isVisible()) {
        popover_->close();
        return;
    }
    if (!popover_) {
        popover_ = new PortReferencePopover(commonPortReferenceRows(), this);
    }
    popover_->showUnder(help_);
}

QCoro::Task<> HalvoKillPanelView::killAction() {
    std::set<std::string> ids = validSelection();
    if (ids.empty()) {
        co_await singleKill();
    } else {
        co_await batchKill(std::move(ids));
    }
}

QCoro::Task<> HalvoKillPanelView::singleKill() {
    const std::optional<PortProcess> target = store_.selectedProcess();
    if (!target) {
        co_return;
    }
    // The panel may close while the kill runs; the store and defaults outlive it.
    QPointer<HalvoKillPanelView> self(this);
    DefaultsStoring& defaults = defaults_;
    const int64_t opening = openings_;
    if (!co_await store_.killSelected()) {
        co_return;
    }
    recordRecentKill(target->port, target->pid, target->executableName, defaults);
    if (self) {
        multiSelection_.erase(target->id());
        if (opening == openings_ && isVisible()) {
            close_();
        }
    }
}

QCoro::Task<> HalvoKillPanelView::batchKill(std::set<std::string> ids) {
    QPointer<HalvoKillPanelView> self(this);
    DefaultsStoring& defaults = defaults_;
    const std::vector<PortProcess> killed = co_await store_.killBatch(std::move(ids));
    for (const PortProcess& row : killed) {
        recordRecentKill(row.port, row.pid, row.executableName, defaults);
    }
    if (self) {
        multiSelection_ = validSelection();
        scheduleRowsUpdate();
    }
}

void HalvoKillPanelView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        ++openings_;
        search_->setFocus(Qt::OtherFocusReason);
        // Hidden, the panel kept the rows of its last opening (or of a scan
        // for the menu): gone before the first paint.
        store_.relist();
        if (rowsUpdatePending_) {
            updateRows();
        }
    }
}

// Closing by any route hides the panel; being minimised is not closing.
void HalvoKillPanelView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        if (popover_) {
            popover_->close();
        }
        store_.reset();
    }
}

bool HalvoKillPanelView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            store_.moveSelection(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace halvo
