#include "services/halvo_update_manager.h"

#include "services/tav_sparkle_manager.h"

namespace halvo {

HalvoUpdateManager::HalvoUpdateManager(TAVSparkleManager& sparkle, QObject* parent)
    : QObject(parent), sparkle_(sparkle) {
    mirror();
    // Copied at once, on the main thread, so no reader sees a stale mirror.
    connect(&sparkle_, &TAVSparkleManager::changed, this, [this] {
        mirror();
        emit changed();
    });
}

void HalvoUpdateManager::mirror() {
    state_ = TAVAppUpdateState::mirroring(sparkle_.state());
    canCheckForUpdates_ = sparkle_.canCheckForUpdates();
    lastCheckDate_ = sparkle_.lastCheckDate();
}

void HalvoUpdateManager::checkForUpdates() {
    sparkle_.checkForUpdates();
}

void HalvoUpdateManager::checkForUpdatesInBackground() {
    sparkle_.checkForUpdatesInBackground();
}

}  // namespace halvo
