#include "app/stopped_server_notice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include "ui/inert_text.h"

namespace halvo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// Servers may mark their bodies up: names come from other processes.
QString plain(const std::string& name) {
    return ui::inertText(std::string_view(name)).toHtmlEscaped();
}

}  // namespace

NoticeText stoppedServersText(const std::vector<PortProcess>& stopped) {
    if (stopped.size() == 1) {
        return {QStringLiteral("%1 stopped listening on :%2")
                    .arg(plain(stopped[0].executableName))
                    .arg(stopped[0].port),
                QString()};
    }
    QStringList lines;
    for (const PortProcess& row : stopped) {
        lines << QStringLiteral("%1 on :%2").arg(plain(row.executableName)).arg(row.port);
    }
    return {QStringLiteral("%1 servers stopped listening").arg(stopped.size()),
            lines.join(QLatin1Char('\n'))};
}

StoppedServerNotice::StoppedServerNotice(std::function<void()> openPanel, QObject* parent)
    : QObject(parent), openPanel_(std::move(openPanel)) {
    QDBusConnection::sessionBus().connect(kService, kPath, kService,
                                          QStringLiteral("ActionInvoked"), this,
                                          SLOT(actionInvoked(uint, QString)));
}

void StoppedServerNotice::send(const std::vector<PortProcess>& stopped) {
    if (stopped.empty()) {
        return;
    }
    const NoticeText text = stoppedServersText(stopped);
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    notify << QStringLiteral("Halvo") << uint(0) << QStringLiteral("network-offline")
           << text.summary << text.body
           << QStringList{QStringLiteral("default"), QStringLiteral("Open Kill Panel")}
           << QVariantMap() << int(-1);
    auto* reply =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        const QDBusPendingReply<uint> id = *call;
        if (id.isError()) {
            qWarning("halvo: no desktop notification: %s", qPrintable(id.error().message()));
        } else {
            sent_.insert(id.value());
        }
        call->deleteLater();
    });
}

void StoppedServerNotice::actionInvoked(uint id, const QString& action) {
    Q_UNUSED(action);
    if (sent_.erase(id) != 0) {
        openPanel_();
    }
}

}  // namespace halvo
