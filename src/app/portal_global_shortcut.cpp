#include "app/portal_global_shortcut.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>

#include "app/desktop_portal.h"

namespace halvo {

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcutEntry {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcutEntry& entry) {
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcutEntry& entry) {
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

}  // namespace halvo

Q_DECLARE_METATYPE(halvo::PortalShortcutEntry)

namespace halvo {
namespace {

using portal::kPath;
using portal::kService;
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

enum PortalResponse : uint { kSuccess = 0, kCancelledByUser = 1 };

PortalGlobalShortcut::Outcome failureOf(uint response) {
    return response == kCancelledByUser ? PortalGlobalShortcut::Outcome::declined
                                        : PortalGlobalShortcut::Outcome::unavailable;
}

}  // namespace

PortalGlobalShortcut::PortalGlobalShortcut(QDBusConnection bus, QString appId, Shortcut shortcut,
                                           QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      appId_(std::move(appId)),
      shortcut_(std::move(shortcut)) {
    qDBusRegisterMetaType<PortalShortcutEntry>();
    qDBusRegisterMetaType<QList<PortalShortcutEntry>>();
}

PortalGlobalShortcut::~PortalGlobalShortcut() {
    if (!sessionPath_.isEmpty()) {
        bus_.asyncCall(QDBusMessage::createMethodCall(kService, sessionPath_, kSessionInterface,
                                                      QStringLiteral("Close")));
    }
}

void PortalGlobalShortcut::bind() {
    if (!bus_.isConnected()) {
        finish(Outcome::unavailable);
        return;
    }
    // A program outside a sandbox names itself before its first portal call, so
    // the portal can show and remember the binding under its name. Portals
    // without this registry, or a call after another one, refuse: no matter.
    QDBusMessage registration = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.host.portal.Registry"),
        QStringLiteral("Register"));
    registration << appId_ << QVariantMap();
    bus_.asyncCall(registration);
    request(QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), QStringLiteral("halvo")}},
            SLOT(onSessionCreated(uint, QVariantMap)));
}

void PortalGlobalShortcut::request(const QString& method, QList<QVariant> arguments,
                                   QVariantMap options, const char* responseSlot) {
    // Request paths end in the caller's unique name (":1.42" gives "1_42") and the token.
    const QString token = QStringLiteral("halvo%1").arg(++requests_);
    const QString sender = bus_.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    pendingRequestPath_ = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    bus_.connect(kService, pendingRequestPath_, kRequestInterface, QStringLiteral("Response"), this,
                 responseSlot);

    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            finish(Outcome::unavailable);
        }
    });
}

void PortalGlobalShortcut::onSessionCreated(uint response, const QVariantMap& results) {
    bus_.disconnect(kService, pendingRequestPath_, kRequestInterface, QStringLiteral("Response"),
                    this, SLOT(onSessionCreated(uint, QVariantMap)));
    // Documented as a string, though some portals send an object path.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    sessionPath_ = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                       ? handle.value<QDBusObjectPath>().path()
                       : handle.toString();
    if (response != kSuccess || sessionPath_.isEmpty()) {
        finish(failureOf(response));
        return;
    }
    bus_.connect(kService, sessionPath_, kSessionInterface, QStringLiteral("Closed"), this,
                 SLOT(onSessionClosed()));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QList<PortalShortcutEntry> shortcuts = {
        {shortcut_.id,
         {{QStringLiteral("description"), shortcut_.description},
          {QStringLiteral("preferred_trigger"), shortcut_.preferredTrigger}}}};
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(sessionPath_)), QVariant::fromValue(shortcuts),
             QString()},
            {}, SLOT(onShortcutsBound(uint, QVariantMap)));
}

void PortalGlobalShortcut::onShortcutsBound(uint response, const QVariantMap&) {
    bus_.disconnect(kService, pendingRequestPath_, kRequestInterface, QStringLiteral("Response"),
                    this, SLOT(onShortcutsBound(uint, QVariantMap)));
    finish(response == kSuccess ? Outcome::bound : failureOf(response));
}

void PortalGlobalShortcut::onActivated(const QDBusObjectPath& session, const QString& id,
                                       qulonglong, const QVariantMap&) {
    if (session.path() == sessionPath_ && id == shortcut_.id) {
        emit activated();
    }
}

void PortalGlobalShortcut::onSessionClosed() {
    sessionPath_.clear();
    emit sessionClosed();
}

void PortalGlobalShortcut::finish(Outcome outcome) {
    if (!finished_) {
        finished_ = true;
        emit finished(outcome);
    }
}

}  // namespace halvo
