// Parts of a desktop that a test starts for itself; they end with the test.
#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QProcess>
#include <QString>

namespace halvo::testing {

// SIGTERM, so a daemon can clean up after itself; SIGKILL if it takes too long.
void stop(QProcess& process);

// A session bus of the test's own (dbus-daemon in the foreground, our child).
class PrivateBus {
  public:
    ~PrivateBus();
    bool start();
    const QString& address() const { return address_; }
    // A new connection to this bus under `name`.
    QDBusConnection connect(const QString& name) const;

  private:
    QProcess daemon_;
    QString address_;
};

// Xvfb on a display it picks itself (-displayfd), managed by openbox.
class X11Desktop {
  public:
    ~X11Desktop();
    bool start();
    const QByteArray& display() const { return display_; }

  private:
    QProcess server_;
    QProcess windowManager_;  // declared last: it goes before its server
    QByteArray display_;
};

}  // namespace halvo::testing
