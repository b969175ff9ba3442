// The desktop application. For now it opens the kill panel (`halvo --panel`)
// and quits when the panel closes.
// Before any Qt header: Qt's `signals` macro would rewrite a parameter name in it.
#include "kill/kill_engine.h"

#include <QApplication>
#include <QCommandLineParser>

#include <memory>

#include "panel/halvo_kill_coordinator.h"
#include "scan/system_scanner.h"
#include "state/process_store.h"
#include "state/settings_defaults_store.h"
#include "ui/fonts.h"
#include "ui/style.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("halvo"));
    QApplication::setOrganizationName(QStringLiteral("tavlabs"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tavlabs.halvo"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption panel(QStringLiteral("panel"), QStringLiteral("Open the kill panel."));
    parser.addOption(panel);
    parser.process(app);
    if (!parser.isSet(panel)) {
        parser.showHelp(2);
    }

    halvo::ui::registerFonts();
    halvo::ui::applyStyle(app);
    halvo::ProcessStore store(halvo::makeSystemScanner(), std::make_shared<halvo::KillEngine>());
    auto& coordinator = halvo::HalvoKillCoordinator::shared();
    coordinator.setStore(&store, std::make_shared<halvo::SettingsDefaultsStore>());
    coordinator.showPanel();
    const int status = QApplication::exec();
    coordinator.setStore(nullptr, nullptr);
    return status;
}
