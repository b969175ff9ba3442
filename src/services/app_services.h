// What the application has beyond its port tools: the validated identity, the
// update checks, and the about, support and update windows. Built once at
// start-up; when it cannot be built the application runs on without it. The
// tray menu reads the two published values and calls the four actions. Main
// thread only.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "appkit/app_identity.h"
#include "appkit/diagnostics.h"
#include "appkit/update_config.h"
#include "base/defaults_store.h"
#include "services/update_delivery.h"
#include "services/update_scheduler.h"
#include "services/update_window.h"

namespace halvo {
namespace ui {
class TAVSatelliteWindowPresenter;
}

// The exit status with which "Restart Halvo" ends the application, so that
// the installed binary starts in its place.
inline constexpr int kRelaunchExitCode = 75;

class AppServices final : public QObject {
    Q_OBJECT
  public:
    // The identity, the update configuration (`config`, Halvo's unless a test
    // gives another) and the update scheduler, in that order; then starts the
    // scheduler. A refused configuration logs one line ("Halvo:
    // application services unavailable; the local port tools carry on: " and
    // the reason) and gives null. `defaults` and `presenter` must outlive this.
    static std::unique_ptr<AppServices> create(
        DefaultsStoring& defaults, ui::TAVSatelliteWindowPresenter& presenter,
        const std::function<TAVUpdateConfig()>& config = halvoUpdateConfig,
        UpdateCheckTiming timing = {});
    ~AppServices() override;

    // The menu's first row and the tray badge show while this is present.
    std::optional<QString> pendingUpdateVersion() const;
    // The pending update is downloaded and verified.
    bool isUpdateReadyToInstall() const;
    // "Check for Updates…" is enabled exactly while this is true: never while
    // an update downloads or installs.
    bool canCheckForUpdates() const;
    const UpdateDelivery& delivery() const { return *delivery_; }

    // Row 1: shows the update already found (its window offers "Install"),
    // or where its download or installation stands; without one, a
    // user-initiated check.
    void installPendingUpdate();
    // "Check for Updates…": a user-initiated check whose end opens a window.
    void checkForUpdates();
    void showSupport();
    void showAbout();
    // The diagnostics' hotkey line from now on.
    void setHotkeySummary(std::string summary) { hotkeySummary_ = std::move(summary); }

  signals:
    void pendingUpdateVersionChanged();
    void canCheckForUpdatesChanged();

  private:
    AppServices(TAVAppIdentity identity, TAVUpdateConfig config, DefaultsStoring& defaults,
                ui::TAVSatelliteWindowPresenter& presenter, UpdateCheckTiming timing);
    void publishChanges();
    void showUpdateOutcome();
    void showDelivery();
    // `state` is the scheduler's or the delivery's own.
    UpdateOutcome outcome(const TAVUpdateState& state) const;
    UpdateActions actions();
    // "Install": fetches the found update where it can, else opens its
    // release notes and clears the reminder.
    void install();
    void openUpdate();
    TAVAppDiagnostics diagnostics() const;

    TAVAppIdentity identity_;
    std::unique_ptr<TAVUpdateScheduler> scheduler_;
    std::unique_ptr<UpdateDelivery> delivery_;
    ui::TAVSatelliteWindowPresenter& presenter_;
    std::optional<QString> shownPendingVersion_;
    bool shownCanCheck_ = true;
    bool shownReady_ = false;
    std::optional<std::string> hotkeySummary_;
};

}  // namespace halvo
