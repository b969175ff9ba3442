// The bundled fonts: Inter (text) and Dancing Script (the about window's note).
// When no bundled file is found, the copies installed by fonts-inter and
// fonts-dancingscript serve by family name, and otherwise the system font.
#pragma once

#include <QLoggingCategory>
#include <QStringList>

namespace halvo::ui {

Q_DECLARE_LOGGING_CATEGORY(fontRegistration)  // "tav.ui.FontRegistration"

// The font files' names without extension, in lookup order.
const QStringList& bundledFontNames();

// Looks each name up as .ttf, then .otf, in `directories` (first match wins),
// registers what it found with QFontDatabase and returns those files. Missing
// files and refused registrations are logged, never fatal.
QStringList registerFonts(const QStringList& directories);

// Once per process, over the application's data directories ("fonts" under
// each) and the "fonts" folder next to the executable (the build tree).
void registerFonts();

}  // namespace halvo::ui
