#include "ui/controls.h"

#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QVBoxLayout>

#include "ui/palette.h"
#include "ui/style.h"

namespace halvo::ui {
namespace {

QPixmap drawnSymbol(Symbol symbol, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour(palette::textSecondary);
    p.setPen(QPen(colour, size / 12.0, Qt::SolidLine, Qt::RoundCap));
    const double s = size;
    if (symbol == Symbol::search) {
        p.drawEllipse(QRectF(s * 0.18, s * 0.18, s * 0.48, s * 0.48));
        p.drawLine(QPointF(s * 0.59, s * 0.59), QPointF(s * 0.82, s * 0.82));
    } else {
        p.drawEllipse(QRectF(s * 0.12, s * 0.12, s * 0.76, s * 0.76));
        QFont font = textFont(static_cast<int>(s * 0.5), QFont::DemiBold);
        p.setFont(font);
        p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, QStringLiteral("?"));
    }
    return pixmap;
}

}  // namespace

QIcon symbolIcon(Symbol symbol) {
    QIcon drawn;
    for (int size : {16, 24, 32, 48}) {
        drawn.addPixmap(drawnSymbol(symbol, size));
    }
    return QIcon::fromTheme(
        symbol == Symbol::search ? QStringLiteral("edit-find") : QStringLiteral("help-contextual"),
        drawn);
}

TAVSearchField::TAVSearchField(QWidget* parent) : QLineEdit(parent) {
    addAction(symbolIcon(Symbol::search), QLineEdit::LeadingPosition);
    setClearButtonEnabled(true);
    setMinimumHeight(36);
}

TAVButton::TAVButton(const QString& text, Variant variant, QWidget* parent)
    : QPushButton(text, parent) {
    setProperty("variant", variant == Variant::primary ? QStringLiteral("primary")
                                                       : QStringLiteral("secondary"));
    setMinimumHeight(36);
}

TAVEmptyState::TAVEmptyState(Symbol icon, QWidget* parent)
    : QWidget(parent), title_(new QLabel(this)), body_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 24, 16, 16);
    layout->setSpacing(8);
    auto* image = new QLabel(this);
    image->setPixmap(drawnSymbol(icon, 28));
    image->setAlignment(Qt::AlignHCenter);
    title_->setTextFormat(Qt::PlainText);
    title_->setAlignment(Qt::AlignHCenter);
    title_->setFont(textFont(textSize::body));
    QPalette secondary = title_->palette();
    secondary.setColor(QPalette::WindowText, QColor(palette::textSecondary));
    title_->setPalette(secondary);
    body_->setObjectName(QStringLiteral("body"));
    body_->setTextFormat(Qt::PlainText);
    body_->setAlignment(Qt::AlignHCenter);
    body_->setWordWrap(true);
    body_->setFont(textFont(textSize::caption));
    body_->setPalette(secondary);
    body_->hide();
    layout->addWidget(image);
    layout->addWidget(title_);
    layout->addWidget(body_);
    layout->addStretch();
}

void TAVEmptyState::setTitle(const QString& title) {
    title_->setText(title);
    setAccessibleName(title);
}

QString TAVEmptyState::title() const {
    return title_->text();
}

void TAVEmptyState::setBody(const QString& body) {
    body_->setText(body);
    body_->setVisible(!body.isEmpty());
    setAccessibleDescription(body);
}

QString TAVEmptyState::body() const {
    return body_->text();
}

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    setAccessibleName(text);
    update();
}

QSize ElidedLabel::sizeHint() const {
    return {0, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return sizeHint();
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QString shown = fontMetrics().elidedText(text_, Qt::ElideMiddle, width());
    p.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shown);
}

QPushButton* linkButton(const QString& text, QWidget* parent) {
    auto* link = new QPushButton(text, parent);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setFont(textFont(textSize::caption, QFont::Medium));
    link->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 2px 0;"
                                       " background: transparent; }"
                                       "QPushButton:hover { text-decoration: underline; }")
                            .arg(QColor(palette::accent).name()));
    return link;
}

QLabel* plainLabel(const QString& text, const QFont& font, QRgb colour, QWidget* parent,
                   bool wrap) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(colour));
    label->setPalette(palette);
    return label;
}

}  // namespace halvo::ui
