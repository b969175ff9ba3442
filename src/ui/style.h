// The application's one look: the palette as a QPalette on the Fusion style,
// plus one small style sheet for what a palette cannot say (corner radii, the
// primary button). Sizes are pixels, which is what the layout's points are at
// a device pixel ratio of 1.
#pragma once

#include <QFont>

class QApplication;

namespace halvo::ui {

void applyStyle(QApplication& app);

// The type scale: every text of the windows is set in one of these pixel sizes.
namespace textSize {
inline constexpr int caption = 12;
inline constexpr int body = 14;
inline constexpr int title = 20;       // semibold
inline constexpr int largeTitle = 28;  // semibold
// Outside the scale: the diagnostics report, small enough that its longest
// line, the update feed's address, fits unwrapped.
inline constexpr int report = 11;
}  // namespace textSize

// The text font (Inter when installed, else the system font) at a pixel size.
QFont textFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The system's fixed-width font, for ports and PIDs.
QFont monoFont(int pixelSize);

}  // namespace halvo::ui
