#include "app/status_icon.h"

#include <QPainter>
#include <QStandardPaths>
#include <QSvgRenderer>

#include <cstring>

#include "ui/palette.h"

// The resources live in a static library: nothing references them unless asked.
static void initAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace halvo {
namespace {

// The glyph's design size, in which the badge's measures are given.
constexpr double kDesignSide = 18.0;
constexpr double kBadgeSide = 7.0;
constexpr double kRingWidth = 1.5;

// The installed symbolic icon comes first, so that a package or an icon theme
// in the user's data folders can restyle it; the built-in glyph otherwise.
QString glyphSource(const char* resource) {
    if (std::strcmp(resource, kTrayGlyph) == 0) {
        const QString installed = QStandardPaths::locate(
            QStandardPaths::GenericDataLocation,
            QStringLiteral("icons/hicolor/scalable/apps/com.tavlabs.halvo-symbolic.svg"));
        if (!installed.isEmpty()) {
            return installed;
        }
    }
    return QString::fromLatin1(resource);
}

}  // namespace

QImage glyphImage(const QColor& colour, int pixels, const char* resource) {
    static const bool initialised = (initAppResources(), true);
    (void)initialised;
    QSvgRenderer renderer(glyphSource(resource));
    if (!renderer.isValid()) {
        return {};
    }
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    // Keep the glyph's coverage, take the colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    return image;
}

void drawUpdateBadge(QPainter& painter, const QRectF& bounds, const QColor& colour) {
    const double scale = bounds.width() / kDesignSide;
    const QRectF badge(bounds.right() - kBadgeSide * scale, bounds.top(), kBadgeSide * scale,
                       kBadgeSide * scale);
    const double ring = kRingWidth * scale;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    painter.setBrush(Qt::black);
    painter.drawEllipse(badge.adjusted(-ring, -ring, ring, ring));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setBrush(colour);
    painter.drawEllipse(badge);
    painter.restore();
}

QColor trayInk(ColorScheme scheme, const QColor& desktopText) {
    switch (scheme) {
        case ColorScheme::dark:
            return QColor(ui::palette::textPrimary);
        case ColorScheme::light:
            return QColor(ui::palette::background);
        case ColorScheme::noPreference:
            break;
    }
    return desktopText;
}

QIcon statusImage(bool updateAvailable, const QColor& colour, const char* resource) {
    QIcon icon;
    for (int pixels : {16, 18, 22, 24, 32, 36, 48, 64}) {
        QImage image = glyphImage(colour, pixels, resource);
        if (image.isNull()) {
            return {};
        }
        if (updateAvailable) {
            QPainter painter(&image);
            drawUpdateBadge(painter, QRectF(0, 0, pixels, pixels), colour);
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

}  // namespace halvo
