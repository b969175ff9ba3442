// Opens one services window as the application shows it, for screenshots:
// `halvo_services_shot about|support|update|downloading|ready`. Quits when
// the window closes.
#include <QApplication>
#include <QIcon>

#include "appkit/diagnostics.h"
#include "services/about_support_windows.h"
#include "services/update_window.h"
#include "ui/fonts.h"
#include "ui/style.h"
#include "ui/window_presenter.h"

int main(int argc, char* argv[]) {
    using namespace halvo;
    QApplication app(argc, argv);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    ui::registerFonts();
    ui::applyStyle(app);
    const QString which = app.arguments().value(1);
    const TAVAppDiagnostics diagnostics =
        TAVAppDiagnostics::current(appIdentity(), std::nullopt, halvoUpdateConfig().appcastURL);
    auto& presenter = ui::TAVSatelliteWindowPresenter::shared();
    QWidget* window = nullptr;
    if (which == u"about") {
        window = openAbout(presenter, appIdentity(), diagnostics);
    } else if (which == u"support") {
        window = openSupport(presenter, appIdentity(), diagnostics);
    } else if (which == u"update" || which == u"downloading" || which == u"ready") {
        using Kind = TAVUpdateState::Kind;
        const Kind kind = which == u"update"        ? Kind::updateAvailable
                          : which == u"downloading" ? Kind::downloading
                                                    : Kind::readyToInstall;
        UpdateOutcome outcome;
        outcome.state.kind = kind;
        outcome.state.version = "1.4.0";
        outcome.state.progress = 0.42;
        outcome.productName = QStringLiteral("Halvo");
        outcome.runningVersion = QString::fromStdString(*buildVersion());
        outcome.releaseNotes = QUrl(QStringLiteral("https://tavlabs.com/changelog/halvo"));
        outcome.canDownload = true;
        window = openUpdateOutcome(presenter, outcome, {});
    } else {
        qWarning("usage: halvo_services_shot about|support|update|downloading|ready");
        return 2;
    }
    QObject::connect(window, &QObject::destroyed, &app, &QApplication::quit);
    return QApplication::exec();
}
