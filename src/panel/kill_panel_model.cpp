#include "panel/kill_panel_model.h"

#include "scan/process_cost.h"
#include "scan/process_resolver.h"
#include "ui/inert_text.h"
#include "ui/palette.h"
#include "ui/style.h"

namespace halvo {
namespace {

QString trimmedOrDash(const std::string& text) {
    const QString trimmed = ui::inertText(std::string_view(text));
    return trimmed.isEmpty() ? QStringLiteral("\u2014") : trimmed;
}

}  // namespace

KillPanelModel::KillPanelModel(QObject* parent)
    : QAbstractTableModel(parent), textFont_(ui::textFont(14)), monoFont_(ui::monoFont(12)) {}

void KillPanelModel::setRows(const std::vector<PortProcess>& rows) {
    // Compared before copying: a key that leaves the matches as they were
    // costs no copy of thousands of rows.
    if (rows == rows_) {
        return;
    }
    beginResetModel();
    rows_ = rows;
    endResetModel();
}

void KillPanelModel::setSelectedRow(int row) {
    if (row == selectedRow_) {
        return;
    }
    const int previous = std::exchange(selectedRow_, row);
    emitRowChanged(previous);
    emitRowChanged(row);
}

void KillPanelModel::setTicked(const std::set<std::string>& ids) {
    if (ids == ticked_) {
        return;
    }
    ticked_ = ids;
    if (!rows_.empty()) {
        emit dataChanged(index(0, tick), index(rowCount() - 1, tick));
    }
}

void KillPanelModel::emitRowChanged(int row) {
    if (row >= 0 && row < rowCount()) {
        emit dataChanged(index(row, 0), index(row, columnCount_ - 1));
    }
}

int KillPanelModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int KillPanelModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QString KillPanelModel::pathText(const PortProcess& row) {
    // A container's executable is not on this machine; what it runs says more.
    return trimmedOrDash(row.isContainer() ? row.commandLine() : row.executablePath);
}

QString KillPanelModel::pidText(const PortProcess& row) {
    return row.isContainer() ? QStringLiteral("\u2014") : QString::number(row.pid);
}

QString KillPanelModel::projectText(const PortProcess& row) {
    return trimmedOrDash(row.projectLabel());
}

QString KillPanelModel::rowLabel(const PortProcess& row) {
    const QString owner =
        row.isContainer() ? QStringLiteral("container ") +
                                ui::inertText(std::string_view(*row.dockerContext->containerName))
                          : QStringLiteral("PID ") + QString::number(row.pid);
    return QStringLiteral("Port %1, %2, project %3, %4")
        .arg(QString::number(row.port), ui::inertText(std::string_view(row.executableName)),
             projectText(row), owner);
}

QVariant KillPanelModel::toolTip(const PortProcess& row, int column) {
    std::string text = column == project && row.projectRoot ? *row.projectRoot
                       : row.stopsSupervisor() ? "Run by " + supervisorStopTarget(*row.supervisor)
                                               : "";
    if (row.cost) {
        const CostTexts costs = costTexts(row, processClockNow());
        text += text.empty() ? "" : "\n";
        text += "Memory " + costs.memory + ", CPU time " + costs.cpu + ", running " + costs.up;
    }
    if (text.empty()) {
        return {};
    }
    return ui::inertToolTip(text);
}

QVariant KillPanelModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const PortProcess& row = rows_[static_cast<size_t>(index.row())];
    const bool selected = index.row() == selectedRow_;
    const int column = index.column();
    if (column == tick) {
        const bool ticked = ticked_.contains(row.id());
        switch (role) {
            case Qt::CheckStateRole:
                return ticked ? Qt::Checked : Qt::Unchecked;
            case Qt::ToolTipRole:
                return QStringLiteral("Select for batch kill");
            case Qt::AccessibleTextRole:
                return QStringLiteral("Select port %1 for batch kill").arg(row.port);
            case Qt::AccessibleDescriptionRole:
                return ticked ? QStringLiteral("Selected") : QStringLiteral("Not selected");
            case kSelectedRole:
                return selected;
            default:
                return {};
        }
    }
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case port:
                    return QString::number(row.port);
                case process:
                    return ui::inertText(std::string_view(row.executableName));
                case path:
                    return pathText(row);
                case project:
                    return projectText(row);
                case pid:
                    return pidText(row);
            }
            return {};
        case Qt::ToolTipRole:
            return toolTip(row, column);
        case Qt::FontRole:
            return column == port || column == pid ? monoFont_ : textFont_;
        case Qt::ForegroundRole:
            return QColor(column == path ? ui::palette::textSecondary : ui::palette::textPrimary);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::AccessibleTextRole:
            return rowLabel(row);
        case Qt::AccessibleDescriptionRole:
            return selected ? QStringLiteral("Selected") : QStringLiteral("Not selected");
        case kSelectedRole:
            return selected;
        default:
            return {};
    }
}

QVariant KillPanelModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const char* const kTitles[] = {"", "PORT", "PROCESS", "PATH", "PROJECT", "PID"};
    return section >= 0 && section < columnCount_ ? QString::fromLatin1(kTitles[section])
                                                  : QVariant();
}

}  // namespace halvo
