// The tray icon: the tray glyph from the resources, drawn in one colour
// (a tray has no template tinting, so the caller passes the colour that suits
// the desktop's light or dark scheme), with the update badge cut into its top
// right corner.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>

#include "app/desktop_color_scheme.h"

class QPainter;

namespace halvo {

inline constexpr char kTrayGlyph[] = ":/halvo/tray-glyph.svg";

// The glyph in `colour` at `pixels` square; a null image when the glyph is missing.
// For the tray glyph, an installed com.tavlabs.halvo-symbolic icon wins.
QImage glyphImage(const QColor& colour, int pixels, const char* resource = kTrayGlyph);

// On a glyph filling `bounds`: clears a ring 1.5/18 of the side wide around the
// badge's square (7/18 of the side, in the top right corner), then fills the
// badge in `colour`.
void drawUpdateBadge(QPainter& painter, const QRectF& bounds, const QColor& colour);

// The glyph's colour: light on a dark desktop, dark on a light one, and
// `desktopText` (the desktop palette's text colour) without a preference.
QColor trayInk(ColorScheme scheme, const QColor& desktopText);

// The icon at the sizes trays ask for; null when the glyph is missing.
QIcon statusImage(bool updateAvailable, const QColor& colour, const char* resource = kTrayGlyph);

}  // namespace halvo
