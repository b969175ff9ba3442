// The small window that ends a user-initiated update check: an update (with
// its release notes and "Install"), up to date, or why the check failed.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

#include "appkit/update_config.h"

namespace halvo {
namespace ui {
class TAVSatelliteWindowPresenter;
}

inline constexpr char kUpdateWindowId[] = "update-check";

struct UpdateOutcome {
    TAVUpdateState state;  // updateAvailable, noUpdateAvailable or failed
    QString productName;
    QString runningVersion;
    QUrl releaseNotes;  // of the update; may be empty
};

// Replaces a result window that is still open. "Install" runs `install` and
// closes the window.
QWidget* openUpdateOutcome(ui::TAVSatelliteWindowPresenter& presenter, const UpdateOutcome& outcome,
                           std::function<void()> install);

}  // namespace halvo
