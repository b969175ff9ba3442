#include "panel/port_reference_popover.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/palette.h"
#include "ui/style.h"

namespace halvo {

const std::vector<PortReferenceRow>& commonPortReferenceRows() {
    static const std::vector<PortReferenceRow> rows{
        {"HTTP", "80"},          {"HTTPS", "443"},     {"SSH", "22"},
        {"FTP", "21"},           {"SMTP", "25"},       {"DNS", "53"},
        {"PostgreSQL", "5432"},  {"MySQL", "3306"},    {"SQL Server", "1433"},
        {"Redis", "6379"},       {"MongoDB", "27017"}, {"Next.js / Node", "3000"},
        {"Vite", "5173"},        {"Rails", "3000"},    {"Django", "8000"},
        {"Spring Boot", "8080"},
    };
    return rows;
}

PortReferencePopover::PortReferencePopover(const std::vector<PortReferenceRow>& rows,
                                           QWidget* parent)
    : QFrame(parent, Qt::Popup) {
    setObjectName(QStringLiteral("portReference"));
    setAccessibleName(QStringLiteral("Port reference"));
    setFixedWidth(kWidth);
    setStyleSheet(QStringLiteral("#portReference { background: %1; border: 1px solid %2;"
                                 " border-radius: 8px; }")
                      .arg(QColor(ui::palette::panel2).name(), QColor(ui::palette::line).name()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(ui::plainLabel(QStringLiteral("Port reference"),
                                     ui::textFont(14, QFont::DemiBold), ui::palette::textPrimary,
                                     this));

    auto* table = new QGridLayout;
    table->setHorizontalSpacing(16);
    table->setVerticalSpacing(4);
    const QFont small = ui::textFont(12);
    const QFont mono = ui::monoFont(12);
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        QLabel* service = ui::plainLabel(rows[i].service, small, ui::palette::textSecondary, this);
        service->setFixedWidth(112);
        QLabel* port = ui::plainLabel(rows[i].port, mono, ui::palette::textPrimary, this);
        port->setFixedWidth(72);
        port->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        port->setObjectName(rows[i].id());
        table->addWidget(service, i, 0);
        table->addWidget(port, i, 1);
    }
    table->setColumnStretch(2, 1);
    layout->addLayout(table);

    auto* separator = new QFrame(this);
    separator->setFixedHeight(1);
    separator->setStyleSheet(
        QStringLiteral("background: %1;").arg(QColor(ui::palette::line).name()));
    layout->addWidget(separator);

    auto* examples = new QVBoxLayout;
    examples->setSpacing(4);
    examples->addWidget(
        ui::plainLabel(QStringLiteral("Search examples"), small, ui::palette::textSecondary, this));
    examples->addWidget(
        ui::plainLabel(QStringLiteral("3000,5173"), mono, ui::palette::textPrimary, this));
    examples->addWidget(
        ui::plainLabel(QStringLiteral("5432-5434"), mono, ui::palette::textPrimary, this));
    examples->addWidget(ui::plainLabel(QStringLiteral(":3000, localhost:3000"), mono,
                                       ui::palette::textPrimary, this));
    examples->addWidget(ui::plainLabel(
        QStringLiteral(":3000 and HOST:3000 (localhost, 127.0.0.1, [::1], [::], 0.0.0.0, *) "
                       "mean port 3000, never text in a command line."),
        small, ui::palette::textSecondary, this, true));
    layout->addLayout(examples);
}

void PortReferencePopover::showUnder(QWidget* anchor) {
    anchor_ = anchor;
    adjustSize();
    const QPoint below = anchor->mapToGlobal(QPoint(anchor->width(), anchor->height() + 4));
    move(below.x() - width(), below.y());
    show();
}

void PortReferencePopover::mousePressEvent(QMouseEvent* event) {
    if (anchor_ &&
        anchor_->rect().contains(anchor_->mapFromGlobal(event->globalPosition().toPoint()))) {
        // Otherwise the press is replayed to the help button, which reopens us.
        setAttribute(Qt::WA_NoMouseReplay);
    }
    QFrame::mousePressEvent(event);
}

}  // namespace halvo
