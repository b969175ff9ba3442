// The named colours every window draws with, and the brand accents, all opaque
// sRGB.
#pragma once

#include <QColor>
#include <QRgb>

namespace halvo::ui {

namespace palette {
inline constexpr QRgb background = 0x0B0D0E;
inline constexpr QRgb panel = 0x121417;
inline constexpr QRgb panel2 = 0x181A1D;
inline constexpr QRgb line = 0x2A2520;
inline constexpr QRgb textPrimary = 0xF4EFE6;
inline constexpr QRgb textSecondary = 0x9C9487;
inline constexpr QRgb textTertiary = 0x7A726A;
inline constexpr QRgb warning = 0xD6A642;
inline constexpr QRgb success = 0x7D8A4D;
inline constexpr QRgb danger = 0xB85C38;
inline constexpr QRgb info = 0x1B6B5E;

// The brand pack's accents.
inline constexpr QRgb accent = 0xC86F4A;
inline constexpr QRgb accentSecondary = 0xD6A642;
}  // namespace palette

}  // namespace halvo::ui
