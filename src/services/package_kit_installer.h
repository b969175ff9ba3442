// Installs a package file through PackageKit on the system bus (a transaction,
// then InstallFiles), which asks for the administrator's password through
// polkit as the desktop's software centre does. Main thread only.
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>

#include <functional>
#include <variant>

namespace halvo {

class PackageKitInstaller final : public QObject {
    Q_OBJECT
  public:
    struct Installed {};
    // No PackageKit took the file: the user installs it another way.
    struct Unavailable {
        QString reason;
    };
    struct Failed {
        QString message;  // what follows "Update installation failed: "
    };
    using Result = std::variant<Installed, Unavailable, Failed>;

    explicit PackageKitInstaller(QObject* parent = nullptr);

    // Hands `path` to PackageKit; `done` is called once, later. One
    // installation at a time: a second call while one runs is refused.
    void install(const QString& path, std::function<void(Result)> done);

  private slots:
    void errorCode(uint code, const QString& details);
    void finished(uint exit, uint runtime);

  private:
    void transactionCreated(const QString& transaction, const QString& path);
    void finish(Result result);

    QDBusConnection bus_;
    QDBusServiceWatcher watcher_;
    QString transaction_;
    QString error_;
    std::function<void(Result)> done_;
};

}  // namespace halvo
