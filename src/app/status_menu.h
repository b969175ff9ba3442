// The tray icon's menu. Its QMenu object lives for the whole run; its rows are
// rebuilt from the state they show whenever that state changes and whenever
// the menu opens, since some StatusNotifierItem hosts read the layout without
// announcing that they show it. Each row carries what it acts on (the port
// record, the recent port) in its own handler, so a click that arrives after
// a rebuild still acts on the row the user saw, never on its successor.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "kill/process_killing.h"
#include "kill/recent_kills.h"
#include "scan/port_records.h"
#include "ui/inert_text.h"

namespace halvo {

// What offers the application services to the menu: the update row at the
// top, and "Check for Updates…", "Support" and "About Halvo" above "Quit Halvo".
class AppServicesOffering {
  public:
    virtual ~AppServicesOffering() = default;
    virtual std::optional<QString> pendingUpdateVersion() const = 0;
    virtual bool isUpdateReadyToInstall() const = 0;
    virtual bool canCheckForUpdates() const = 0;
    virtual void installPendingUpdate() = 0;
    virtual void checkForUpdates() = 0;
    virtual void showSupport() = 0;
    virtual void showAbout() = 0;
};

// Everything the rows show.
struct StatusMenuState {
    std::vector<PortProcess> processes;      // the whole scan, in scan order
    KillMode killMode = KillMode::graceful;  // as stored in the settings
    bool killProcessTree = false;            // kills end the whole process tree
    bool killThroughSupervisor = true;       // a unit's or pm2 app's row stops it
    bool notifyServerStops = false;          // servers that stop on their own are told of
    std::vector<HalvoRecentKill> recentKills;
    AppServicesOffering* services = nullptr;  // null while there are none
};

// What the rows do.
struct StatusMenuActions {
    std::function<void()> openKillPanel;
    std::function<void()> refresh;
    std::function<void(const PortProcess&)> killListeningPort;
    std::function<void(int64_t port)> openRecentKill;
    std::function<void(KillMode)> selectKillMode;
    std::function<void(bool)> setKillProcessTree;
    std::function<void(bool)> setNotifyServerStops;
    std::function<void()> quit;
};

inline constexpr size_t kMenuPortLimit = 5;

// The five lowest ports; records of one port keep their scan order.
std::vector<PortProcess> menuPorts(std::vector<PortProcess> processes);
// "%-6d", two spaces, the executable name: "3000    node". Names are marked
// up for whoever draws the menu, so that each shows as it is.
QString portItemTitle(const PortProcess& record, ui::MenuDrawnBy drawnBy = ui::MenuDrawnBy::qt);
// The port, two spaces, the name: "3000  node".
QString recentKillTitle(const HalvoRecentKill& kill, ui::MenuDrawnBy drawnBy);

class StatusMenu final {
  public:
    explicit StatusMenu(StatusMenuActions actions);
    ~StatusMenu();
    StatusMenu(const StatusMenu&) = delete;
    StatusMenu& operator=(const StatusMenu&) = delete;

    QMenu* menu() { return &menu_; }
    // Rebuilds the rows unless they already show `state`: every rebuild costs
    // the desktop's menu bridge memory that Qt does not give back.
    void rebuild(const StatusMenuState& state);

  private:
    void addListeningPorts(const std::vector<PortProcess>& processes, ui::MenuDrawnBy drawnBy,
                           bool throughSupervisor);
    void addKillMode(KillMode mode, bool processTree);
    void addRecent(const std::vector<HalvoRecentKill>& recentKills, ui::MenuDrawnBy drawnBy);
    QMenu* addSubmenu(QMenu& parent, const QString& title, const QString& iconName);

    // What the rows show, with the services' answers of the time.
    struct Shown {
        StatusMenuState state;
        std::optional<QString> pendingUpdateVersion;
        bool updateReady = false;
        bool canCheckForUpdates = false;
        ui::MenuDrawnBy drawnBy = ui::MenuDrawnBy::qt;
        bool operator==(const Shown&) const;
    };

    StatusMenuActions actions_;
    QMenu menu_;
    std::optional<Shown> shown_;
    // Parent of this build's actions and submenus. The previous build's owner
    // is deleted later, not at once: the rebuild may run inside one of its
    // actions' handlers.
    QPointer<QWidget> owner_;
};

}  // namespace halvo
