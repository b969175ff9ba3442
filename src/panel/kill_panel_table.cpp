#include "panel/kill_panel_table.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include "panel/kill_panel_model.h"
#include "ui/palette.h"
#include "ui/style.h"

namespace halvo {
namespace {

constexpr int kInset = 16;
constexpr int kGap = 12;
constexpr int kTickWidth = 24;
constexpr int kPortWidth = 64;
constexpr int kPidWidth = 72;
constexpr int kTickTextGap = 8;  // between a TickBox's box and its text

// Paints a whole row the same way: the selection colour behind the keyboard
// selection, a separator under each row, a tick box, one line of text per
// cell (the path shortened in the middle).
class RowPainter final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        p->save();
        const QRect cell = option.rect;
        if (index.data(KillPanelModel::kSelectedRole).toBool()) {
            QColor selection(ui::palette::accent);
            selection.setAlpha(46);
            p->fillRect(cell, selection);
        }
        p->fillRect(QRect(cell.left(), cell.bottom(), cell.width(), 1), QColor(ui::palette::line));
        const QRect content =
            KillPanelTable::contentRect(cell, index.column(), index.model()->columnCount());
        if (index.column() == KillPanelModel::tick) {
            paintTickBox(*p, QPointF(content.left() + 2.5, content.center().y() - 7.5),
                         index.data(Qt::CheckStateRole).toInt() == Qt::Checked);
        } else {
            const QFont font = index.data(Qt::FontRole).value<QFont>();
            p->setFont(font);
            p->setPen(index.data(Qt::ForegroundRole).value<QColor>());
            const Qt::TextElideMode mode =
                index.column() == KillPanelModel::path ? Qt::ElideMiddle : Qt::ElideRight;
            const QString text = QFontMetrics(font).elidedText(
                index.data(Qt::DisplayRole).toString(), mode, content.width());
            p->drawText(content, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
        p->restore();
    }
};

// Column titles in small, spaced capitals, inset like the cells below them.
class ColumnTitles final : public QHeaderView {
  public:
    explicit ColumnTitles(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

  protected:
    void paintSection(QPainter* p, const QRect& rect, int section) const override {
        p->save();
        p->fillRect(rect, QColor(ui::palette::panel2));
        p->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), QColor(ui::palette::line));
        QFont font = ui::textFont(11, QFont::DemiBold);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
        p->setFont(font);
        p->setPen(QColor(ui::palette::textTertiary));
        p->drawText(KillPanelTable::contentRect(rect, section, count()),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    model()->headerData(section, Qt::Horizontal).toString());
        p->restore();
    }
};

}  // namespace

void paintTickBox(QPainter& painter, QPointF topLeft, bool ticked) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(topLeft, QSizeF(15, 15));
    if (ticked) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(ui::palette::accent));
        painter.drawRoundedRect(box, 3.5, 3.5);
        painter.setPen(QPen(QColor(ui::palette::textPrimary), 1.8, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        const QPointF points[] = {box.topLeft() + QPointF(3.5, 7.8),
                                  box.topLeft() + QPointF(6.3, 10.6),
                                  box.topLeft() + QPointF(11.5, 4.6)};
        painter.drawPolyline(points, 3);
    } else {
        painter.setPen(QPen(QColor(ui::palette::textSecondary), 1.3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box, 3.5, 3.5);
    }
    painter.restore();
}

QSize TickBox::sizeHint() const {
    const QFontMetrics metrics(font());
    return {16 + kTickTextGap + metrics.horizontalAdvance(text()) + 2,
            std::max(20, metrics.height())};
}

void TickBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintTickBox(painter, QPointF(0.5, height() / 2.0 - 7.5), isChecked());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(rect().adjusted(16 + kTickTextGap, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

KillPanelTable::KillPanelTable(QWidget* parent) : QTableView(parent) {
    setHorizontalHeader(new ColumnTitles(this));
    setItemDelegate(new RowPainter(this));
    horizontalHeader()->setFixedHeight(kHeaderHeight);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    setShowGrid(false);
    setWordWrap(false);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void KillPanelTable::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    QHeaderView* header = horizontalHeader();
    header->setMinimumSectionSize(0);
    const int last = model->columnCount() - 1;
    for (int column = 0; column <= last; ++column) {
        header->setSectionResizeMode(column, QHeaderView::Stretch);
    }
    const std::pair<int, int> fixed[] = {{KillPanelModel::tick, kInset + kTickWidth},
                                         {KillPanelModel::port, kGap + kPortWidth},
                                         {KillPanelModel::pid, kGap + kPidWidth + kInset}};
    for (auto [column, width] : fixed) {
        header->setSectionResizeMode(column, QHeaderView::Fixed);
        header->resizeSection(column, width);
    }
}

QRect KillPanelTable::contentRect(QRect cell, int column, int columnCount) {
    const int left = column == 0 ? kInset : kGap;
    const int right = column == columnCount - 1 ? kInset : 0;
    return cell.adjusted(left, 0, -right, 0);
}

}  // namespace halvo
