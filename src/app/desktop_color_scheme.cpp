#include "app/desktop_color_scheme.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include "app/desktop_portal.h"

namespace halvo {
namespace {

using portal::kPath;
using portal::kService;
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

}  // namespace

DesktopColorScheme::DesktopColorScheme(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    // Read, not ReadOne, which older portals lack.
    QDBusMessage read =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    read << kGroup << kKey;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(read), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        if (reply.type() == QDBusMessage::ReplyMessage) {
            take(reply.arguments().value(0));
        }
    });
}

void DesktopColorScheme::onSettingChanged(const QString& group, const QString& key,
                                          const QDBusVariant& value) {
    if (group == kGroup && key == kKey) {
        take(value.variant());
    }
}

void DesktopColorScheme::take(QVariant value) {
    // Read wraps the value in one variant more than the signal does.
    while (value.metaType() == QMetaType::fromType<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    const uint code = value.toUInt();
    const ColorScheme scheme = code == 1   ? ColorScheme::dark
                               : code == 2 ? ColorScheme::light
                                           : ColorScheme::noPreference;
    if (scheme != current_) {
        current_ = scheme;
        emit changed();
    }
}

}  // namespace halvo
