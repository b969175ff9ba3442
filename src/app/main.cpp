// The tray application. One per session: a later start (autostart, the desktop
// entry, `halvo --panel`) hands over to the running instance and exits.
// Before any Qt header: Qt's `signals` macro would rewrite a parameter name in it.
#include "kill/kill_engine.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QIcon>
#include <QPalette>
#include <QProcess>
#include <QTranslator>

#include <memory>

#include "app/app_delegate.h"
#include "app/journal_log.h"
#include "app/single_instance.h"
#include "app/termination_signals.h"
#include "scan/system_scanner.h"
#include "services/app_services.h"
#include "ui/fonts.h"
#include "ui/style.h"

namespace {

// Linux desktops call the logo key Super; Qt's key names say Meta.
class SuperKeyName final : public QTranslator {
  public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override {
        return qstrcmp(context, "QShortcut") == 0 && qstrcmp(source, "Meta") == 0
                   ? QStringLiteral("Super")
                   : QString();
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    halvo::installJournalMessageHandler();  // first, so that no message misses the journal
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("halvo"));
    QApplication::setApplicationVersion(QStringLiteral(HALVO_VERSION));
    QApplication::setOrganizationName(QStringLiteral("tavlabs"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tavlabs.halvo"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Read now: once an update replaces the binary, /proc/self/exe names the old, deleted one.
    const QString program = QCoreApplication::applicationFilePath();
    SuperKeyName superKeyName;
    QCoreApplication::installTranslator(&superKeyName);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Halvo shows which process listens on a TCP port, and ends it."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption panel(
        QStringLiteral("panel"),
        QStringLiteral("Open the kill panel (in the running Halvo, or start one)."));
    parser.addOption(panel);
    parser.process(app);

    std::unique_ptr<halvo::AppDelegate> delegate;
    halvo::SingleInstance instance(QDBusConnection::sessionBus(),
                                   [&delegate](const QString& activationToken) {
                                       if (delegate) {
                                           delegate->showPanel(activationToken);
                                       }
                                   });
    switch (instance.start(halvo::launcherActivationToken())) {
        case halvo::InstanceRole::handedOver:
            return 0;
        case halvo::InstanceRole::unanswered:
            qWarning("halvo: another Halvo holds com.tavlabs.halvo but does not answer");
            return 1;
        case halvo::InstanceRole::standalone:
            qWarning("halvo: no session bus; `halvo --panel` cannot reach this instance");
            break;
        case halvo::InstanceRole::primary:
            break;
    }

    // Symbols come from the desktop's icon theme; Adwaita fills in where it has none.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    // The desktop's text colour, before the application's own palette replaces it.
    const QColor desktopText = QGuiApplication::palette().color(QPalette::WindowText);
    halvo::ui::registerFonts();
    halvo::ui::applyStyle(app);
    delegate = std::make_unique<halvo::AppDelegate>(
        halvo::makeSystemScanner(), std::make_shared<halvo::KillEngine>(), desktopText);
    delegate->start();
    halvo::quitOnTerminationSignals();
    if (parser.isSet(panel)) {
        delegate->showPanel();
    }
    const int status = QApplication::exec();
    delegate.reset();
    if (status == halvo::kRelaunchExitCode) {
        // Frees the name first, so the installed binary becomes the instance.
        QDBusConnection::sessionBus().unregisterService(
            QLatin1String(halvo::SingleInstance::kServiceName));
        if (!QProcess::startDetached(program)) {
            qWarning("halvo: cannot start %s again", qUtf8Printable(program));
            return 1;
        }
        return 0;
    }
    return status;
}
