#include "app/status_menu.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>

#include <algorithm>

#include "ui/palette.h"
#include "ui/style.h"

namespace halvo {
namespace {

QAction* addRow(QMenu& menu, QWidget* owner, const QString& text, const QString& iconName,
                std::function<void()> run) {
    auto* action = new QAction(text, owner);
    if (!iconName.isEmpty()) {
        action->setIcon(QIcon::fromTheme(iconName));
    }
    if (run) {
        QObject::connect(action, &QAction::triggered, owner, std::move(run));
    }
    menu.addAction(action);
    return action;
}

QAction* addDisabledRow(QMenu& menu, QWidget* owner, const QString& text) {
    QAction* action = addRow(menu, owner, text, QString(), nullptr);
    action->setEnabled(false);
    return action;
}

// Fusion draws separators in the palette's line colour, which the dark menu
// all but hides.
const QString& menuStyleSheet() {
    static const QString sheet =
        QStringLiteral("QMenu::separator { height: 1px; margin: 4px 10px; background: %1; }")
            .arg(QColor(ui::palette::textTertiary).name());
    return sheet;
}

}  // namespace

std::vector<PortProcess> menuPorts(std::vector<PortProcess> processes) {
    std::stable_sort(processes.begin(), processes.end(),
                     [](const PortProcess& a, const PortProcess& b) { return a.port < b.port; });
    if (processes.size() > kMenuPortLimit) {
        processes.resize(kMenuPortLimit);
    }
    return processes;
}

QString portItemTitle(const PortProcess& record, ui::MenuDrawnBy drawnBy) {
    return QString::asprintf("%-6lld", static_cast<long long>(record.port)) + QStringLiteral("  ") +
           ui::inertMenuText(record.executableName, drawnBy);
}

QString recentKillTitle(const HalvoRecentKill& kill, ui::MenuDrawnBy drawnBy) {
    return QStringLiteral("%1  %2").arg(kill.port).arg(ui::inertMenuText(kill.pidName, drawnBy));
}

StatusMenu::StatusMenu(StatusMenuActions actions) : actions_(std::move(actions)) {
    menu_.setStyleSheet(menuStyleSheet());
}

StatusMenu::~StatusMenu() {
    delete owner_;
}

bool StatusMenu::Shown::operator==(const Shown& other) const {
    return state.processes == other.state.processes && state.killMode == other.state.killMode &&
           state.killProcessTree == other.state.killProcessTree &&
           state.killThroughSupervisor == other.state.killThroughSupervisor &&
           state.notifyServerStops == other.state.notifyServerStops &&
           state.recentKills == other.state.recentKills && state.services == other.state.services &&
           pendingUpdateVersion == other.pendingUpdateVersion && updateReady == other.updateReady &&
           canCheckForUpdates == other.canCheckForUpdates && drawnBy == other.drawnBy;
}

void StatusMenu::rebuild(const StatusMenuState& state) {
    // Qt gives the menu a platform menu once it exports it to the desktop.
    Shown next{state, std::nullopt, false, false,
               menu_.platformMenu() != nullptr ? ui::MenuDrawnBy::desktop : ui::MenuDrawnBy::qt};
    // The menu shows no costs, which change with every scan: a scan that
    // changed nothing else must not rebuild it.
    for (PortProcess& row : next.state.processes) {
        row.cost = {};
    }
    if (state.services != nullptr) {
        next.pendingUpdateVersion = state.services->pendingUpdateVersion();
        next.updateReady = state.services->isUpdateReadyToInstall();
        next.canCheckForUpdates = state.services->canCheckForUpdates();
    }
    if (shown_ == next) {
        return;
    }
    shown_ = std::move(next);
    menu_.clear();
    if (owner_) {
        owner_->deleteLater();
    }
    owner_ = new QWidget;
    AppServicesOffering* services = state.services;

    if (services != nullptr) {
        if (std::optional<QString> version = services->pendingUpdateVersion()) {
            addRow(menu_, owner_,
                   (shown_->updateReady ? QStringLiteral("Update ready to install (v%1)")
                                        : QStringLiteral("Update available — Install (v%1)"))
                       .arg(*version),
                   QStringLiteral("software-update-available"),
                   [services] { services->installPendingUpdate(); });
            menu_.addSeparator();
        }
    }
    addRow(menu_, owner_, QStringLiteral("Open kill panel"), QStringLiteral("edit-cut"),
           actions_.openKillPanel)
        ->setShortcut(QKeySequence(Qt::SHIFT | Qt::META | Qt::Key_K));
    addListeningPorts(state.processes, shown_->drawnBy, state.killThroughSupervisor);
    addRow(menu_, owner_, QStringLiteral("Refresh"), QStringLiteral("view-refresh"),
           actions_.refresh)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    menu_.addSeparator();
    addKillMode(state.killMode, state.killProcessTree);
    QAction* notify = addRow(menu_, owner_, QStringLiteral("Notify When a Server Stops"),
                             QStringLiteral("preferences-desktop-notification"),
                             [run = actions_.setNotifyServerStops, on = !state.notifyServerStops] {
                                 if (run) {
                                     run(on);
                                 }
                             });
    notify->setCheckable(true);
    notify->setChecked(state.notifyServerStops);
    addRecent(state.recentKills, shown_->drawnBy);
    if (services != nullptr) {
        menu_.addSeparator();
        addRow(menu_, owner_, QStringLiteral("Check for Updates…"),
               QStringLiteral("system-software-update"),
               [services] { services->checkForUpdates(); })
            ->setEnabled(services->canCheckForUpdates());
        addRow(menu_, owner_, QStringLiteral("Support"), QStringLiteral("help-contents"),
               [services] { services->showSupport(); });
        addRow(menu_, owner_, QStringLiteral("About Halvo"), QStringLiteral("help-about"),
               [services] { services->showAbout(); });
    }
    menu_.addSeparator();
    addRow(menu_, owner_, QStringLiteral("Quit Halvo"), QString(), actions_.quit)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

QMenu* StatusMenu::addSubmenu(QMenu& parent, const QString& title, const QString& iconName) {
    auto* submenu = new QMenu(title, owner_);
    submenu->setStyleSheet(menuStyleSheet());
    submenu->setIcon(QIcon::fromTheme(iconName));
    parent.addMenu(submenu);
    return submenu;
}

void StatusMenu::addListeningPorts(const std::vector<PortProcess>& processes,
                                   ui::MenuDrawnBy drawnBy, bool throughSupervisor) {
    QMenu* ports = addSubmenu(menu_, QStringLiteral("Listening ports"),
                              QStringLiteral("network-transmit-receive"));
    const std::vector<PortProcess> shown = menuPorts(processes);
    for (const PortProcess& record : shown) {
        QMenu* port = addSubmenu(*ports, portItemTitle(record, drawnBy), QString());
        port->menuAction()->setFont(ui::monoFont(ui::textSize::caption));
        auto kill = [record, run = actions_.killListeningPort] { run(record); };
        addRow(*port, owner_,
               record.stopsContainer() ? QStringLiteral("Stop container")
               : record.stopsSupervisor() && throughSupervisor
                   ? QStringLiteral("Stop ") +
                         ui::inertMenuText(supervisorStopTarget(*record.supervisor), drawnBy)
                   : QStringLiteral("Kill"),
               QStringLiteral("process-stop"), kill);
        // The submenu's own title, where a host shows one.
        port->setWindowTitle(QStringLiteral(":%1").arg(record.port));
    }
    if (shown.empty()) {
        addDisabledRow(*ports, owner_, QStringLiteral("No development ports"));
        return;
    }
    ports->addSeparator();
    addRow(*ports, owner_, QStringLiteral("Open kill panel for all…"), QString(),
           actions_.openKillPanel);
}

void StatusMenu::addKillMode(KillMode mode, bool processTree) {
    QMenu* modes =
        addSubmenu(menu_, QStringLiteral("Kill mode"), QStringLiteral("preferences-system"));
    const struct {
        const char* title;
        KillMode mode;
    } rows[] = {{"Graceful (SIGTERM)", KillMode::graceful}, {"Force (SIGKILL)", KillMode::force}};
    for (const auto& row : rows) {
        QAction* action =
            addRow(*modes, owner_, QString::fromUtf8(row.title), QString(),
                   [run = actions_.selectKillMode, chosen = row.mode] { run(chosen); });
        action->setCheckable(true);
        action->setChecked(row.mode == mode);
    }
    // Beside the mode, since it changes what every kill ends.
    modes->addSeparator();
    QAction* tree = addRow(*modes, owner_, QStringLiteral("Include process tree"), QString(),
                           [run = actions_.setKillProcessTree, on = !processTree] { run(on); });
    tree->setCheckable(true);
    tree->setChecked(processTree);
    tree->setToolTip(
        QStringLiteral("Also end the processes that started the server and its children"));
}

void StatusMenu::addRecent(const std::vector<HalvoRecentKill>& recentKills,
                           ui::MenuDrawnBy drawnBy) {
    QMenu* recent =
        addSubmenu(menu_, QStringLiteral("Recent"), QStringLiteral("document-open-recent"));
    const size_t count = std::min(recentKills.size(), kMaxRecentKills);
    for (size_t i = 0; i < count; ++i) {
        const HalvoRecentKill& kill = recentKills[i];
        addRow(*recent, owner_, recentKillTitle(kill, drawnBy), QString(),
               [run = actions_.openRecentKill, port = kill.port] { run(port); });
    }
    if (count == 0) {
        addDisabledRow(*recent, owner_, QStringLiteral("No recent kills"));
    }
}

}  // namespace halvo
