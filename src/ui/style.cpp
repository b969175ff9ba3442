#include "ui/style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QStyleFactory>

#include "ui/palette.h"

namespace halvo::ui {
namespace {

QString hex(QRgb rgb) {
    return QColor(rgb).name();
}

QPalette makePalette() {
    QPalette p;
    const auto set = [&p](QPalette::ColorRole role, QRgb rgb) { p.setColor(role, QColor(rgb)); };
    set(QPalette::Window, palette::background);
    set(QPalette::Base, palette::panel);
    set(QPalette::AlternateBase, palette::panel2);
    set(QPalette::Button, palette::panel2);
    set(QPalette::ToolTipBase, palette::panel2);
    set(QPalette::WindowText, palette::textPrimary);
    set(QPalette::Text, palette::textPrimary);
    set(QPalette::ButtonText, palette::textPrimary);
    set(QPalette::ToolTipText, palette::textPrimary);
    set(QPalette::BrightText, palette::textPrimary);
    set(QPalette::PlaceholderText, palette::textTertiary);
    set(QPalette::Highlight, palette::accent);
    set(QPalette::HighlightedText, palette::textPrimary);
    set(QPalette::Link, palette::accent);
    set(QPalette::Light, palette::line);
    set(QPalette::Midlight, palette::line);
    set(QPalette::Mid, palette::line);
    set(QPalette::Dark, palette::background);
    set(QPalette::Shadow, palette::background);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, QColor(palette::textTertiary));
    }
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(palette::panel));
    return p;
}

QString makeStyleSheet() {
    return QStringLiteral(
               "QLineEdit { background: %1; border: 1px solid %2; border-radius: 6px;"
               " padding: 6px 8px; selection-background-color: %3; }"
               "QLineEdit:focus { border-color: %3; }"
               "QPushButton { background: %1; border: 1px solid %2; border-radius: 6px;"
               " padding: 6px 14px; }"
               "QPushButton:hover { border-color: %4; }"
               "QPushButton[variant=\"primary\"] { background: %3; border-color: %3;"
               " color: %5; font-weight: 600; padding: 8px 18px; }"
               "QPushButton[variant=\"primary\"]:disabled { background: %1; border-color: %2;"
               " color: %6; }"
               "QToolButton { border: none; border-radius: 6px; }"
               "QToolButton:hover { background: %1; }"
               "QToolTip { background: %1; color: %5; border: 1px solid %2; }")
        .arg(hex(palette::panel2), hex(palette::line), hex(palette::accent),
             hex(palette::textTertiary), hex(palette::textPrimary), hex(palette::textTertiary));
}

}  // namespace

void applyStyle(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(makePalette());
    app.setFont(textFont(textSize::body));
    app.setStyleSheet(makeStyleSheet());
}

QFont textFont(int pixelSize, QFont::Weight weight) {
    static const bool hasInter = QFontDatabase::hasFamily(QStringLiteral("Inter"));
    QFont font = hasInter ? QFont(QStringLiteral("Inter"))
                          : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monoFont(int pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    return font;
}

}  // namespace halvo::ui
