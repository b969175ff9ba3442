#include "desktop_session.h"

#include <QDeadlineTimer>

namespace halvo::testing {
namespace {

// The next line `process` prints on standard output; empty when none comes in time.
QByteArray nextLine(QProcess& process, const QDeadlineTimer& deadline) {
    while (!process.canReadLine() && process.waitForReadyRead(deadline.remainingTime())) {
    }
    return process.readLine().trimmed();
}

QByteArray firstLine(QProcess& process) {
    return nextLine(process, QDeadlineTimer(10'000));
}

}  // namespace

void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(5'000)) {
        process.kill();
        process.waitForFinished();
    }
}

bool PrivateBus::start() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    address_ = QString::fromUtf8(firstLine(daemon_));
    return !address_.isEmpty();
}

PrivateBus::~PrivateBus() {
    stop(daemon_);
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
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                   QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("1024x768x24")});
    const QByteArray number = firstLine(server_);
    if (number.isEmpty()) {
        return false;
    }
    display_ = ':' + number;
    // openbox runs its --startup command once it manages the screen.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display_));
    windowManager_.setProcessEnvironment(environment);
    windowManager_.start(QStringLiteral("openbox"),
                         {QStringLiteral("--startup"), QStringLiteral("echo managing")});
    // Its notices come first on the same channel.
    const QDeadlineTimer deadline(10'000);
    for (QByteArray line = nextLine(windowManager_, deadline); !line.isEmpty();
         line = nextLine(windowManager_, deadline)) {
        if (line == "managing") {
            return true;
        }
    }
    return false;
}

}  // namespace halvo::testing
