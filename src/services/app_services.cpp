#include "services/app_services.h"

#include <QDesktopServices>

#include "appkit/diagnostics.h"
#include "services/about_support_windows.h"
#include "services/update_window.h"
#include "ui/window_presenter.h"

namespace halvo {

std::unique_ptr<AppServices> AppServices::create(DefaultsStoring& defaults,
                                                 ui::TAVSatelliteWindowPresenter& presenter,
                                                 const std::function<TAVUpdateConfig()>& config,
                                                 UpdateCheckTiming timing) {
    const TAVAppIdentity& identity = appIdentity();
    try {
        std::unique_ptr<AppServices> services(
            new AppServices(identity, config(), defaults, presenter, timing));
        services->scheduler_->start();
        return services;
    } catch (const TAVUpdateError& error) {
        qWarning("Halvo: application services unavailable; the local port tools carry on: %s",
                 error.description().c_str());
        return nullptr;
    }
}

AppServices::AppServices(TAVAppIdentity identity, TAVUpdateConfig config, DefaultsStoring& defaults,
                         ui::TAVSatelliteWindowPresenter& presenter, UpdateCheckTiming timing)
    : identity_(std::move(identity)),
      scheduler_(std::make_unique<TAVUpdateScheduler>(std::move(config), defaults, timing)),
      presenter_(presenter) {
    connect(scheduler_.get(), &TAVUpdateScheduler::changed, this, [this] {
        const std::optional<QString> version = pendingUpdateVersion();
        const bool canCheck = canCheckForUpdates();
        if (version != shownPendingVersion_) {
            shownPendingVersion_ = version;
            emit pendingUpdateVersionChanged();
        }
        if (canCheck != shownCanCheck_) {
            shownCanCheck_ = canCheck;
            emit canCheckForUpdatesChanged();
        }
    });
    connect(scheduler_.get(), &TAVUpdateScheduler::userCheckFinished, this,
            &AppServices::showUpdateOutcome);
}

AppServices::~AppServices() = default;

std::optional<QString> AppServices::pendingUpdateVersion() const {
    return scheduler_->pendingUpdateVersion();
}

bool AppServices::canCheckForUpdates() const {
    return scheduler_->canCheckForUpdates();
}

void AppServices::installPendingUpdate() {
    if (!scheduler_->pendingUpdateVersion() || !scheduler_->foundUpdate()) {
        checkForUpdates();
        return;
    }
    const QString version = *scheduler_->pendingUpdateVersion();
    openUpdateOutcome(
        presenter_,
        {TAVUpdateState{TAVUpdateState::Kind::updateAvailable, version.toStdString(), {}, {}},
         QString::fromStdString(identity_.productDisplayName()),
         QString::fromStdString(buildVersion().value_or("")),
         scheduler_->foundUpdate()->releaseNotesLink},
        [this] { openUpdate(); });
}

void AppServices::checkForUpdates() {
    scheduler_->checkForUpdates();
}

void AppServices::showUpdateOutcome() {
    const std::optional<AppcastItem>& update = scheduler_->foundUpdate();
    openUpdateOutcome(presenter_,
                      {scheduler_->state(), QString::fromStdString(identity_.productDisplayName()),
                       QString::fromStdString(buildVersion().value_or("")),
                       update ? update->releaseNotesLink : QUrl()},
                      [this] { openUpdate(); });
}

void AppServices::openUpdate() {
    const std::optional<AppcastItem>& update = scheduler_->foundUpdate();
    QUrl page = update ? update->releaseNotesLink : QUrl();
    if (page.isEmpty() && identity_.links().releaseNotesURL()) {
        page = QUrl(QString::fromStdString(*identity_.links().releaseNotesURL()));
    }
    if (page.isValid()) {
        QDesktopServices::openUrl(page);
    }
    scheduler_->userAttendedToUpdate();
}

TAVAppDiagnostics AppServices::diagnostics() const {
    TAVAppDiagnostics diagnostics =
        TAVAppDiagnostics::current(identity_, std::nullopt, scheduler_->config().appcastURL);
    diagnostics.hotkey = hotkeySummary_;
    return diagnostics;
}

void AppServices::showSupport() {
    openSupport(presenter_, identity_, diagnostics());
}

void AppServices::showAbout() {
    openAbout(presenter_, identity_, diagnostics());
}

}  // namespace halvo
