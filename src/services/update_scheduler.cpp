#include "services/update_scheduler.h"

#include <QLoggingCategory>

#include <algorithm>
#include <climits>

#include "appkit/diagnostics.h"

namespace halvo {
namespace {

Q_LOGGING_CATEGORY(updates, "halvo.updates")

using std::chrono::milliseconds;

// A feed is asked at most once an hour, whatever the configuration says, and
// at least every 24.8 days (the longest a QTimer counts).
milliseconds intervalOf(const TAVUpdateConfig& config) {
    double seconds = config.checkInterval;
    if (!(seconds >= 3600)) {  // NaN too
        seconds = 3600;
    }
    return milliseconds(static_cast<qint64>(std::min(seconds * 1000.0, double(INT_MAX))));
}

TAVUpdateState stateOf(TAVUpdateState::Kind kind) {
    TAVUpdateState state;
    state.kind = kind;
    return state;
}

QVersionNumber runningVersion() {
    return QVersionNumber::fromString(QString::fromStdString(buildVersion().value_or("0")));
}

}  // namespace

QUrl effectiveFeedURL(const QString& configured, const QByteArray& override) {
    if (override.isEmpty()) {
        return QUrl(configured);
    }
    const QUrl url(QString::fromUtf8(override), QUrl::StrictMode);
    if (isAcceptableFeedURL(url)) {
        return url;
    }
    qCWarning(updates,
              "halvo: HALVO_UPDATE_FEED_URL is neither https nor http to the loopback; "
              "checking %s instead",
              qUtf8Printable(configured));
    return QUrl(configured);
}

std::string TAVUpdateScheduler::lastCheckKey(std::string_view slug) {
    return "tavlabs." + std::string(slug) + ".lastUpdateCheck";
}

TAVUpdateScheduler::TAVUpdateScheduler(TAVUpdateConfig config, DefaultsStoring& defaults,
                                       UpdateCheckTiming timing, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      defaults_(defaults),
      timing_(timing),
      feedURL_(effectiveFeedURL(QString::fromStdString(config_.appcastURL),
                                qgetenv("HALVO_UPDATE_FEED_URL"))),
      checker_(runningVersion(), config_.allowedChannels(), timing_.fetch) {
    if (std::optional<std::string> stored = defaults_.value(lastCheckKey(config_.product.slug))) {
        const QDateTime date =
            QDateTime::fromString(QString::fromStdString(*stored), Qt::ISODateWithMs);
        if (date.isValid()) {
            lastCheckDate_ = date;
        }
    }
    schedule_.setSingleShot(true);
    connect(&schedule_, &QTimer::timeout, this, &TAVUpdateScheduler::checkForUpdatesInBackground);
}

TAVUpdateScheduler::~TAVUpdateScheduler() = default;

std::optional<QDateTime> TAVUpdateScheduler::nextBackgroundCheck() const {
    if (!schedule_.isActive()) {
        return std::nullopt;
    }
    return QDateTime::currentDateTimeUtc().addMSecs(schedule_.remainingTime());
}

void TAVUpdateScheduler::start() {
    if (std::exchange(didStart_, true) || !config_.automaticallyChecksForUpdates) {
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const milliseconds interval = intervalOf(config_);
    const qint64 since = lastCheckDate_ ? lastCheckDate_->msecsTo(now) : -1;
    // A last check in the future (a clock set back) counts as none.
    if (since < 0 || since >= interval.count()) {
        scheduleBackgroundCheck(timing_.firstBackgroundCheck);
    } else {
        scheduleBackgroundCheck(interval - milliseconds(since));
    }
}

void TAVUpdateScheduler::checkForUpdates() {
    if (!canCheckForUpdates_) {
        return;
    }
    state_ = stateOf(TAVUpdateState::Kind::checking);
    canCheckForUpdates_ = false;
    beginCheck(true);
}

void TAVUpdateScheduler::checkForUpdatesInBackground() {
    // A running check, of either kind, answers for this one too.
    if (!checker_.isChecking()) {
        beginCheck(false);
    }
}

void TAVUpdateScheduler::beginCheck(bool userInitiated) {
    isUserInitiated_ = userInitiated;
    lastCheckDate_ = QDateTime::currentDateTimeUtc();
    defaults_.setValue(lastCheckKey(config_.product.slug),
                       lastCheckDate_->toString(Qt::ISODateWithMs).toStdString());
    if (didStart_ && config_.automaticallyChecksForUpdates) {
        scheduleBackgroundCheck(intervalOf(config_));
    }
    emit changed();
    checker_.check(feedURL_,
                   [this](AppcastUpdateChecker::Result result) { checkEnded(std::move(result)); });
}

void TAVUpdateScheduler::checkEnded(AppcastUpdateChecker::Result result) {
    using Kind = TAVUpdateState::Kind;
    const bool foundNow = std::holds_alternative<AppcastUpdateChecker::Found>(result);
    if (auto* found = std::get_if<AppcastUpdateChecker::Found>(&result)) {
        foundUpdate_ = found->item;
        pendingUpdateVersion_ = found->item.displayVersion();
        if (isUserInitiated_) {
            state_ = stateOf(Kind::updateAvailable);
            state_.version = pendingUpdateVersion_->toStdString();
        }
    } else if (std::holds_alternative<AppcastUpdateChecker::UpToDate>(result)) {
        foundUpdate_.reset();
        pendingUpdateVersion_.reset();
        if (isUserInitiated_) {
            state_ = stateOf(Kind::noUpdateAvailable);
        }
    } else {
        const QString& message = std::get<AppcastUpdateChecker::Failed>(result).message;
        if (isUserInitiated_) {
            state_ = stateOf(Kind::failed);
            state_.error =
                TAVUpdateError{TAVUpdateError::Kind::updateCheckFailed, message.toStdString()};
        } else {
            qCInfo(updates, "halvo: background update check failed: %s", qUtf8Printable(message));
        }
    }
    const bool wasUserInitiated = isUserInitiated_;
    canCheckForUpdates_ = true;
    emit changed();
    if (wasUserInitiated) {
        emit userCheckFinished();
    } else if (foundNow && config_.automaticallyDownloadsUpdates) {
        emit foundInBackground();
    }
}

void TAVUpdateScheduler::userAttendedToUpdate() {
    if (pendingUpdateVersion_) {
        pendingUpdateVersion_.reset();
        emit changed();
    }
}

void TAVUpdateScheduler::scheduleBackgroundCheck(milliseconds delay) {
    schedule_.start(std::clamp<qint64>(delay.count(), 0, INT_MAX));
}

}  // namespace halvo
