// The update checks: publishes the update state, runs user-initiated checks
// (whose end the user is shown) and scheduled background checks (whose found
// update is only marked: `pendingUpdateVersion`, the menu's first row and the
// tray badge; with automatic downloads, `foundInBackground` too). Main thread
// only.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <optional>

#include "appkit/update_config.h"
#include "base/defaults_store.h"
#include "services/appcast_update_checker.h"

namespace halvo {

// The feed to read: HALVO_UPDATE_FEED_URL when it is set and acceptable (for
// tests and mirrors; https, or http to the loopback), else `configured`. A
// refused override is logged once.
QUrl effectiveFeedURL(const QString& configured, const QByteArray& override);

struct UpdateCheckTiming {
    std::chrono::milliseconds firstBackgroundCheck{3000};  // after start(), when one is due
    AppcastFetchLimits fetch;
};

class TAVUpdateScheduler final : public QObject {
    Q_OBJECT
  public:
    // Reads the time of the last check from `defaults`, which must outlive this.
    TAVUpdateScheduler(TAVUpdateConfig config, DefaultsStoring& defaults,
                       UpdateCheckTiming timing = {}, QObject* parent = nullptr);
    ~TAVUpdateScheduler() override;

    const TAVUpdateState& state() const { return state_; }
    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    const std::optional<QString>& pendingUpdateVersion() const { return pendingUpdateVersion_; }
    // The newest update the last completed check found.
    const std::optional<AppcastItem>& foundUpdate() const { return foundUpdate_; }
    const TAVUpdateConfig& config() const { return config_; }
    // The feed read: the configured one or the accepted override.
    const QUrl& feedURL() const { return feedURL_; }
    // When the next background check runs; none unless started with automatic checks.
    std::optional<QDateTime> nextBackgroundCheck() const;

    // Once: with automatic checks on, a background check soon when none ran
    // within the check interval, else when the interval since the last ends;
    // then one every interval.
    void start();
    // State `checking` and checks disabled until it ends in `updateAvailable`,
    // `noUpdateAvailable` or `failed`; then `userCheckFinished`. Ignored while
    // a user-initiated check runs.
    void checkForUpdates();
    // Leaves the state alone; a found update sets `pendingUpdateVersion`.
    void checkForUpdatesInBackground();
    // The user opened the found update: the reminder is cleared.
    void userAttendedToUpdate();

    // "tavlabs." + slug + ".lastUpdateCheck": ISO 8601 time of the last check.
    static std::string lastCheckKey(std::string_view slug);

  signals:
    // After any published value changed.
    void changed();
    void userCheckFinished();
    // A background check found an update, and the configuration downloads
    // updates automatically.
    void foundInBackground();

  private:
    void beginCheck(bool userInitiated);
    void checkEnded(AppcastUpdateChecker::Result result);
    void scheduleBackgroundCheck(std::chrono::milliseconds delay);

    TAVUpdateConfig config_;
    DefaultsStoring& defaults_;
    UpdateCheckTiming timing_;
    QUrl feedURL_;
    AppcastUpdateChecker checker_;
    QTimer schedule_;

    TAVUpdateState state_;
    bool canCheckForUpdates_ = true;
    std::optional<QDateTime> lastCheckDate_;
    std::optional<QString> pendingUpdateVersion_;
    std::optional<AppcastItem> foundUpdate_;
    bool didStart_ = false;
    bool isUserInitiated_ = true;
};

}  // namespace halvo
