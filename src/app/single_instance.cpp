#include "app/single_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QtGlobal>

namespace halvo {
namespace {

constexpr int kHandOverTimeoutMs = 5000;

}  // namespace

QString launcherActivationToken() {
    const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    return token.isEmpty() ? qEnvironmentVariable("DESKTOP_STARTUP_ID") : token;
}

SingleInstance::SingleInstance(QDBusConnection bus, PanelRequested panelRequested, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), panelRequested_(std::move(panelRequested)) {}

SingleInstance::~SingleInstance() {
    if (registered_) {
        bus_.unregisterService(QLatin1String(kServiceName));
        bus_.unregisterObject(QLatin1String(kObjectPath));
    }
}

InstanceRole SingleInstance::start(const QString& activationToken) {
    if (!bus_.isConnected()) {
        return InstanceRole::standalone;
    }
    // Twice: the holder may quit between our claim and our call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The object is there before the name, so that no call finds the name alone.
        registered_ = bus_.registerObject(QLatin1String(kObjectPath), this,
                                          QDBusConnection::ExportScriptableSlots);
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claim =
            bus_.interface()->registerService(QLatin1String(kServiceName),
                                              QDBusConnectionInterface::DontQueueService,
                                              QDBusConnectionInterface::DontAllowReplacement);
        if (claim.isValid() && claim.value() == QDBusConnectionInterface::ServiceRegistered) {
            return InstanceRole::primary;
        }
        bus_.unregisterObject(QLatin1String(kObjectPath));
        registered_ = false;
        if (!claim.isValid()) {
            return InstanceRole::standalone;  // the bus refuses names altogether
        }

        QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(kServiceName), QLatin1String(kObjectPath), QLatin1String(kServiceName),
            QStringLiteral("ShowPanel"));
        call << activationToken;
        // BlockWithGui keeps this thread's events flowing, should the holder be in this process.
        const QDBusMessage answer = bus_.call(call, QDBus::BlockWithGui, kHandOverTimeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage) {
            return InstanceRole::handedOver;
        }
        if (answer.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")) {
            break;
        }
    }
    return InstanceRole::unanswered;
}

void SingleInstance::ShowPanel(const QString& activationToken) {
    panelRequested_(activationToken);
}

}  // namespace halvo
