// Opens one services window as the application shows it, for screenshots:
// `halvo_services_shot about|support|update`. Quits when the window closes.
#include <QApplication>
#include <QIcon>

#include "appkit/diagnostics.h"
#include "services/about_support_windows.h"
#include "services/update_window.h"
#include "ui/fonts.h"
#include "ui/style.h"
#include "ui/window_presenter.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    halvo::ui::registerFonts();
    halvo::ui::applyStyle(app);
    const QString which = app.arguments().value(1);
    const halvo::TAVAppIdentity& identity = halvo::appIdentity();
    const halvo::TAVAppDiagnostics diagnostics = halvo::TAVAppDiagnostics::current(
        identity, std::nullopt, halvo::halvoUpdateConfig().appcastURL);
    halvo::ui::TAVSatelliteWindowPresenter& presenter =
        halvo::ui::TAVSatelliteWindowPresenter::shared();
    QWidget* window = nullptr;
    if (which == u"about") {
        window = halvo::openAbout(presenter, identity, diagnostics);
    } else if (which == u"support") {
        window = halvo::openSupport(presenter, identity, diagnostics);
    } else if (which == u"update") {
        halvo::TAVUpdateState state;
        state.kind = halvo::TAVUpdateState::Kind::updateAvailable;
        state.version = "1.4.0";
        window = halvo::openUpdateOutcome(
            presenter,
            {state, QStringLiteral("Halvo"), QString::fromStdString(*halvo::buildVersion()),
             QUrl(QStringLiteral("https://tavlabs.com/changelog/halvo"))},
            {});
    } else {
        qWarning("usage: halvo_services_shot about|support|update");
        return 2;
    }
    QObject::connect(window, &QObject::destroyed, &app, &QApplication::quit);
    return QApplication::exec();
}
