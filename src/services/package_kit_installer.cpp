#include "services/package_kit_installer.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QTimer>

namespace halvo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.PackageKit");
const QString kTransaction = QStringLiteral("org.freedesktop.PackageKit.Transaction");
constexpr uint kExitSuccess = 1;

// Sends `message` and hands its reply, or its error, to `then`.
void call(const QDBusConnection& bus, QObject* context, const QDBusMessage& message,
          std::function<void(const QDBusMessage&)> then) {
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, then = std::move(then)] {
                         watcher->deleteLater();
                         then(watcher->reply());
                     });
}

}  // namespace

PackageKitInstaller::PackageKitInstaller(QObject* parent)
    : QObject(parent),
      bus_(QDBusConnection::systemBus()),
      watcher_(kService, bus_, QDBusServiceWatcher::WatchForUnregistration) {
    connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        finish(Failed{QStringLiteral("PackageKit stopped before the installation finished")});
    });
}

void PackageKitInstaller::install(const QString& path, std::function<void(Result)> done) {
    if (done_) {
        QTimer::singleShot(0, this, [done = std::move(done)] {
            done(Failed{QStringLiteral("another installation is running")});
        });
        return;
    }
    done_ = std::move(done);
    error_.clear();
    if (!bus_.isConnected()) {
        QTimer::singleShot(
            0, this, [this] { finish(Unavailable{QStringLiteral("there is no system bus")}); });
        return;
    }
    call(bus_, this,
         QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/PackageKit"),
                                        kService, QStringLiteral("CreateTransaction")),
         [this, path](const QDBusMessage& reply) {
             const QVariant transaction = reply.arguments().value(0);
             if (reply.type() != QDBusMessage::ReplyMessage ||
                 !transaction.canConvert<QDBusObjectPath>()) {
                 qInfo("halvo: PackageKit: %s", qUtf8Printable(reply.errorMessage()));
                 finish(Unavailable{QStringLiteral("PackageKit does not answer")});
                 return;
             }
             transactionCreated(transaction.value<QDBusObjectPath>().path(), path);
         });
}

void PackageKitInstaller::transactionCreated(const QString& transaction, const QString& path) {
    transaction_ = transaction;
    bus_.connect(kService, transaction, kTransaction, QStringLiteral("ErrorCode"), this,
                 SLOT(errorCode(uint, QString)));
    bus_.connect(kService, transaction, kTransaction, QStringLiteral("Finished"), this,
                 SLOT(finished(uint, uint)));
    // Lets PackageKit ask for the password; sent first, so it applies.
    QDBusMessage hints = QDBusMessage::createMethodCall(kService, transaction, kTransaction,
                                                        QStringLiteral("SetHints"));
    hints << QStringList{QStringLiteral("interactive=true")};
    bus_.send(hints);
    QDBusMessage installFiles = QDBusMessage::createMethodCall(kService, transaction, kTransaction,
                                                               QStringLiteral("InstallFiles"));
    // No flags: the file's signature was checked here, not by the archive's keys.
    installFiles << QVariant::fromValue(qulonglong(0)) << QStringList{path};
    call(bus_, this, installFiles, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            finish(Failed{reply.errorMessage()});
        }
    });
}

void PackageKitInstaller::errorCode(uint code, const QString& details) {
    error_ = details.isEmpty() ? QStringLiteral("PackageKit error %1").arg(code) : details;
}

void PackageKitInstaller::finished(uint exit, uint) {
    if (exit == kExitSuccess) {
        finish(Installed{});
    } else {
        finish(Failed{error_.isEmpty()
                          ? QStringLiteral("PackageKit ended the installation (exit %1)").arg(exit)
                          : error_});
    }
}

void PackageKitInstaller::finish(Result result) {
    if (!transaction_.isEmpty()) {
        bus_.disconnect(kService, transaction_, kTransaction, QStringLiteral("ErrorCode"), this,
                        SLOT(errorCode(uint, QString)));
        bus_.disconnect(kService, transaction_, kTransaction, QStringLiteral("Finished"), this,
                        SLOT(finished(uint, uint)));
        transaction_.clear();
    }
    if (auto done = std::exchange(done_, nullptr)) {
        done(std::move(result));
    }
}

}  // namespace halvo
