// The update window: the end of a user-initiated check (an update with its
// release notes and "Install", up to date, or why the check failed), then the
// update's way in: downloading (a progress bar and Cancel), ready to install,
// installing, installed ("Restart Halvo"), or why it failed, with the command
// that installs a kept file by hand.
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
    TAVUpdateState state;
    QString productName;
    QString runningVersion;
    QUrl releaseNotes;         // of the update; may be empty
    bool canDownload = false;  // "Install" fetches the file, else it opens the release notes
    bool installed = false;    // with state idle: the update is in, the old binary runs
    QString manualFile;        // after a failed installation: the verified file, kept
};

struct UpdateActions {
    std::function<void()> install;  // an available or a ready update
    std::function<void()> cancel;   // the download
    std::function<void()> restart;
};

// Opens the window, or shows `outcome` in the one already open. "Install" on
// an update that cannot be downloaded, and Cancel, close the window.
QWidget* openUpdateOutcome(ui::TAVSatelliteWindowPresenter& presenter, const UpdateOutcome& outcome,
                           UpdateActions actions);
// Shows `outcome` in the window if it is open, without raising it: a download's
// progress must not take the focus back many times a second.
void refreshUpdateOutcome(ui::TAVSatelliteWindowPresenter& presenter, const UpdateOutcome& outcome,
                          UpdateActions actions);

}  // namespace halvo
