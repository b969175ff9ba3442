// One halvo per session. The first instance owns the session-bus name
// "com.tavlabs.halvo" and serves ShowPanel there; a later one (autostart, a
// click on the desktop entry, `halvo --panel`) hands over and exits, passing
// its launcher's activation token so that the compositor lets the running
// instance raise its window.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace halvo {

enum class InstanceRole {
    primary,     // this process owns the name and shows the panel when asked
    handedOver,  // the running instance was asked to show the panel: exit 0
    unanswered,  // another process holds the name but did not answer
    standalone,  // no session bus: run alone, reachable only through the tray
};

// XDG_ACTIVATION_TOKEN (Wayland), else DESKTOP_STARTUP_ID (X11), else empty.
QString launcherActivationToken();

class SingleInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tavlabs.halvo")

  public:
    static constexpr char kServiceName[] = "com.tavlabs.halvo";
    static constexpr char kObjectPath[] = "/com/tavlabs/halvo";

    using PanelRequested = std::function<void(const QString& activationToken)>;

    // `bus` is the session bus in the application.
    SingleInstance(QDBusConnection bus, PanelRequested panelRequested, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Claims the name, or asks the instance that holds it to show the panel.
    InstanceRole start(const QString& activationToken);

  public slots:
    // Called over the bus by a later instance.
    Q_SCRIPTABLE void ShowPanel(const QString& activationToken);

  private:
    QDBusConnection bus_;
    PanelRequested panelRequested_;
    bool registered_ = false;
};

}  // namespace halvo
