// The application-wide update state: the update manager's published values
// mirrored after each of its changes, with a failure carried as its text.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <optional>

#include "appkit/update_config.h"

namespace halvo {

class TAVSparkleManager;

class HalvoUpdateManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY changed)
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY changed)
    Q_PROPERTY(QDateTime lastCheckDate READ lastCheckDateOrNull NOTIFY changed)
  public:
    // `sparkle` must outlive this.
    explicit HalvoUpdateManager(TAVSparkleManager& sparkle, QObject* parent = nullptr);

    const TAVAppUpdateState& state() const { return state_; }
    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    const std::optional<QDateTime>& lastCheckDate() const { return lastCheckDate_; }
    QString statusLine() const { return QString::fromStdString(state_.statusLine()); }

    // Forwarded to the update manager.
    void checkForUpdates();
    void checkForUpdatesInBackground();

  signals:
    void changed();

  private:
    void mirror();
    QDateTime lastCheckDateOrNull() const { return lastCheckDate_.value_or(QDateTime()); }

    TAVSparkleManager& sparkle_;
    TAVAppUpdateState state_;
    bool canCheckForUpdates_ = true;
    std::optional<QDateTime> lastCheckDate_;
};

}  // namespace halvo
