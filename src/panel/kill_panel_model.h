// The kill panel's table: one row per port that matches the query, with the
// tick box, port, process, path, project and PID columns, the keyboard
// selection and the ticks drawn from what the panel hands it. Cell texts are
// inert plain text and carry the accessible labels a screen reader reads.
#pragma once

#include <QAbstractTableModel>
#include <QFont>

#include <set>
#include <string>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

class KillPanelModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { tick, port, process, path, project, pid, columnCount_ };
    // Whether a row is the keyboard selection (bool), for the row painter.
    static constexpr int kSelectedRole = Qt::UserRole + 1;

    explicit KillPanelModel(QObject* parent = nullptr);

    // Replaces the rows; rows equal to the shown ones change nothing.
    void setRows(const std::vector<PortProcess>& rows);
    const std::vector<PortProcess>& rows() const { return rows_; }
    void setSelectedRow(int row);
    void setTicked(const std::set<std::string>& ids);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The path (a container row's command) and project cells: trimmed, or "—"
    // when nothing is left.
    static QString pathText(const PortProcess& row);
    static QString projectText(const PortProcess& row);
    // The PID; a dash for a container row, which has none.
    static QString pidText(const PortProcess& row);
    // "Port 3000, node, project shop, PID 4242".
    static QString rowLabel(const PortProcess& row);
    // The project cell's root, then what the process costs, on every cell.
    static QVariant toolTip(const PortProcess& row, int column);

  private:
    void emitRowChanged(int row);

    std::vector<PortProcess> rows_;
    std::set<std::string> ticked_;
    int selectedRow_ = 0;
    const QFont textFont_;
    const QFont monoFont_;
};

}  // namespace halvo
