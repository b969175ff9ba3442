// The about and support windows, each with the diagnostics report that the
// user can select, read and copy for a support request. Both open through a
// presenter, once per identifier, and are not resizable.
#pragma once

#include <QString>
#include <QWidget>

#include "appkit/app_identity.h"
#include "appkit/diagnostics.h"

class QPlainTextEdit;

namespace halvo {
namespace ui {
class TAVSatelliteWindowPresenter;
}

inline constexpr char kAboutWindowId[] = "about-app";
inline constexpr char kSupportWindowId[] = "support";

// "About " + the display name, 480 x 540: the name, the version line, the
// maker, links to the website, privacy policy and terms, and the diagnostics.
QWidget* openAbout(ui::TAVSatelliteWindowPresenter& presenter, const TAVAppIdentity& identity,
                   const TAVAppDiagnostics& diagnostics);
// "Support", 540 x 480: "Need help?", the support actions, and the diagnostics.
QWidget* openSupport(ui::TAVSatelliteWindowPresenter& presenter, const TAVAppIdentity& identity,
                     const TAVAppDiagnostics& diagnostics);

// The "Diagnostics" section: the report in a fixed-width font, selectable,
// and "Copy Diagnostic Info", which copies it through the presenter (which
// confirms with "Copied").
class TAVDiagnosticsView final : public QWidget {
    Q_OBJECT
  public:
    TAVDiagnosticsView(const TAVAppDiagnostics& diagnostics,
                       ui::TAVSatelliteWindowPresenter& presenter, QWidget* parent = nullptr);
};

}  // namespace halvo
