// One global shortcut through the XDG desktop portal's GlobalShortcuts
// interface: the compositor owns the key, and the user consents to the
// binding (Wayland desktops, and X11 ones whose portal offers it).
#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace halvo {

class PortalGlobalShortcut final : public QObject {
    Q_OBJECT

  public:
    enum class Outcome {
        bound,        // the portal holds the shortcut
        unavailable,  // no portal, no GlobalShortcuts, or the portal failed
        declined,     // the user refused the session or the shortcut
    };

    struct Shortcut {
        QString id;
        QString description;
        QString preferredTrigger;  // in the XDG shortcuts notation, e.g. "SHIFT+LOGO+k"
    };

    // `appId` names the application to the portal (its desktop file's basename).
    PortalGlobalShortcut(QDBusConnection bus, QString appId, Shortcut shortcut,
                         QObject* parent = nullptr);
    // Closes the session, which releases the shortcut.
    ~PortalGlobalShortcut() override;

    // Creates a session and binds the shortcut to it; ends with finished().
    void bind();

  signals:
    void finished(halvo::PortalGlobalShortcut::Outcome outcome);
    void activated();
    // The portal ended the session (revoked, or the user removed the shortcut).
    void sessionClosed();

  private slots:
    void onSessionCreated(uint response, const QVariantMap& results);
    void onShortcutsBound(uint response, const QVariantMap& results);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void onSessionClosed();

  private:
    // Calls `method` on the portal; the answer comes as a Response signal on
    // a request object whose path the token fixes, so it is heard from first.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                 const char* responseSlot);
    void finish(Outcome outcome);

    QDBusConnection bus_;
    QString appId_;
    Shortcut shortcut_;
    QString sessionPath_;
    QString pendingRequestPath_;
    int requests_ = 0;
    bool finished_ = false;
};

}  // namespace halvo
