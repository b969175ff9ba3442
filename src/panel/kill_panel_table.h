// The table of the kill panel: a 28 px column title row and 48 px rows, the
// tick box, port and PID columns at fixed widths and process, path and project
// sharing the rest, cells inset 16 px at the row's ends and 12 px apart. It
// never takes keyboard focus: the arrow keys stay with the search field.
#pragma once

#include <QTableView>

namespace halvo {

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
