#include "desktop_session.h"

#include <QDeadlineTimer>

#include <functional>

namespace halvo::testing {
namespace {

// The first line of standard output that `wanted` accepts, within ten seconds.
QByteArray awaitLine(QProcess& process, const std::function<bool(const QByteArray&)>& wanted) {
    const QDeadlineTimer deadline(10'000);
    while (process.canReadLine() || process.waitForReadyRead(deadline.remainingTime())) {
        const QByteArray line = process.canReadLine() ? process.readLine().trimmed() : "";
        if (!line.isEmpty() && wanted(line)) {
            return line;
        }
    }
    return {};
}

}  // namespace

void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(5'000)) {
        process.kill();
        process.waitForFinished();
    }
}

PrivateBus::~PrivateBus() {
    stop(daemon_);
}

bool PrivateBus::start() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  QStringLiteral("--session --nofork --print-address=1").split(' '));
    address_ = QString::fromUtf8(awaitLine(daemon_, [](const QByteArray&) { return true; }));
    return !address_.isEmpty();
}

QDBusConnection PrivateBus::connect(const QString& name) const {
    return QDBusConnection::connectToBus(address_, name);
}

X11Desktop::~X11Desktop() {
    stop(windowManager_);
    stop(server_);
}

bool X11Desktop::start() {
    server_.start(QStringLiteral("Xvfb"),
                  QStringLiteral("-displayfd 1 -nolisten tcp -screen 0 1024x768x24").split(' '));
    display_ = ':' + awaitLine(server_, [](const QByteArray&) { return true; });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display_));
    windowManager_.setProcessEnvironment(environment);
    // openbox runs its --startup command once it manages the screen; its
    // notices come first on the same channel.
    windowManager_.start(QStringLiteral("openbox"),
                         {QStringLiteral("--startup"), QStringLiteral("echo managing")});
    return display_ != ":" && !awaitLine(windowManager_, [](const QByteArray& line) {
                                   return line == "managing";
                               }).isEmpty();
}

}  // namespace halvo::testing
