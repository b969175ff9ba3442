#include "services/app_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QStandardPaths>

#include "appkit/diagnostics.h"
#include "services/about_support_windows.h"
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
    const TAVUpdateConfig& configured = scheduler_->config();
    // A feed read over plain http can only be on the loopback (a test or a
    // local mirror); its files may be there too.
    delivery_ = std::make_unique<UpdateDelivery>(
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' +
            QString::fromStdString(configured.product.slug) + QStringLiteral("/updates"),
        configured.product.slug, configured.updatePublicKey,
        scheduler_->feedURL().scheme() == u"http");
    connect(scheduler_.get(), &TAVUpdateScheduler::changed, this, &AppServices::publishChanges);
    connect(scheduler_.get(), &TAVUpdateScheduler::userCheckFinished, this,
            &AppServices::showUpdateOutcome);
    connect(scheduler_.get(), &TAVUpdateScheduler::foundInBackground, this,
            [this] { delivery_->download(*scheduler_->foundUpdate()); });
    connect(delivery_.get(), &UpdateDelivery::changed, this, [this] {
        if (delivery_->isInstalled()) {
            scheduler_->userAttendedToUpdate();
        }
        publishChanges();
        if (presenter_.window(QString::fromLatin1(kUpdateWindowId))) {
            refreshUpdateOutcome(presenter_, outcome(delivery_->state()), actions());
        }
    });
}

AppServices::~AppServices() = default;

void AppServices::publishChanges() {
    const std::optional<QString> version = pendingUpdateVersion();
    const bool canCheck = canCheckForUpdates();
    const bool ready = isUpdateReadyToInstall();
    if (version != shownPendingVersion_ || ready != shownReady_) {
        shownPendingVersion_ = version;
        shownReady_ = ready;
        emit pendingUpdateVersionChanged();
    }
    if (canCheck != shownCanCheck_) {
        shownCanCheck_ = canCheck;
        emit canCheckForUpdatesChanged();
    }
}

std::optional<QString> AppServices::pendingUpdateVersion() const {
    return scheduler_->pendingUpdateVersion();
}

bool AppServices::isUpdateReadyToInstall() const {
    return delivery_->state().kind == TAVUpdateState::Kind::readyToInstall;
}

bool AppServices::canCheckForUpdates() const {
    return scheduler_->canCheckForUpdates() && !delivery_->isBusy();
}

void AppServices::installPendingUpdate() {
    // A failed one is offered again, so that Install retries it.
    if (delivery_->isBusy() || isUpdateReadyToInstall() || delivery_->isInstalled()) {
        showDelivery();
        return;
    }
    if (!scheduler_->pendingUpdateVersion() || !scheduler_->foundUpdate()) {
        checkForUpdates();
        return;
    }
    TAVUpdateState available{TAVUpdateState::Kind::updateAvailable,
                             scheduler_->pendingUpdateVersion()->toStdString(),
                             {},
                             {}};
    openUpdateOutcome(presenter_, outcome(available), actions());
}

void AppServices::checkForUpdates() {
    if (!delivery_->isBusy()) {
        scheduler_->checkForUpdates();
    }
}

void AppServices::showUpdateOutcome() {
    openUpdateOutcome(presenter_, outcome(scheduler_->state()), actions());
}

void AppServices::showDelivery() {
    openUpdateOutcome(presenter_, outcome(delivery_->state()), actions());
}

UpdateOutcome AppServices::outcome(const TAVUpdateState& state) const {
    const std::optional<AppcastItem>& update = scheduler_->foundUpdate();
    const bool ofDelivery = &state == &delivery_->state();
    const bool keptFile =
        ofDelivery && state.kind == TAVUpdateState::Kind::failed && !delivery_->file().isEmpty();
    return {state,
            QString::fromStdString(identity_.productDisplayName()),
            QString::fromStdString(buildVersion().value_or("")),
            update ? update->releaseNotesLink : QUrl(),
            update && delivery_->canDeliver(*update),
            ofDelivery && delivery_->isInstalled(),
            keptFile ? delivery_->file() : QString()};
}

UpdateActions AppServices::actions() {
    return {[this] { install(); }, [this] { delivery_->cancel(); },
            [] { QCoreApplication::exit(kRelaunchExitCode); }};
}

void AppServices::install() {
    const std::optional<AppcastItem>& update = scheduler_->foundUpdate();
    if (delivery_->state().kind == TAVUpdateState::Kind::readyToInstall) {
        delivery_->install();
    } else if (update && delivery_->canDeliver(*update)) {
        delivery_->download(*update);
    } else {
        openUpdate();
    }
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
