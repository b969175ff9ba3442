// The table of the kill panel: a 28 px column title row and 48 px rows, the
// tick box, port and PID columns at fixed widths and process, path and project
// sharing the rest, cells inset 16 px at the row's ends and 12 px apart. It
// never takes keyboard focus: the arrow keys stay with the search field.
#pragma once

#include <QCheckBox>
#include <QTableView>

namespace halvo {

// The tick box of the rows, 15 px square at `topLeft`: outlined, or filled in
// the accent with a check mark.
void paintTickBox(QPainter& painter, QPointF topLeft, bool ticked);

// A check box drawn with the rows' tick box, which Fusion's own would not
// show against the dark panel. The whole widget takes the click.
class TickBox final : public QCheckBox {
    Q_OBJECT
  public:
    using QCheckBox::QCheckBox;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};

class KillPanelTable final : public QTableView {
    Q_OBJECT
  public:
    static constexpr int kHeaderHeight = 28;
    static constexpr int kRowHeight = 48;

    explicit KillPanelTable(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;

    // The inner area of a cell in `column`, where its content is drawn.
    static QRect contentRect(QRect cell, int column, int columnCount);
};

}  // namespace halvo
