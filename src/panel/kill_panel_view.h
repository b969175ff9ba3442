// The kill panel: a search field, the table of matching ports, the outcome
// of the last kill, Cancel and Kill. All data, the query, the keyboard
// selection and the feedback live in the shared ProcessStore; the panel holds
// only the ticks, the popover and focus.
//
// "Include process tree", beside the buttons, is the store's killProcessTree:
// kills then end the server's whole process tree.
//
// Each showing lists the ports afresh: a scanning state until the first
// scan is in, never the rows the panel showed when it was hidden.
//
// Keys, with focus kept in the search field: Up/Down move the store's
// selection (wrapping), Return kills the ticked rows or else the selection,
// Escape closes. A single click selects a row, a double click kills only that
// row. After each successful kill a recent kill is recorded in `defaults`; a
// successful single kill closes the panel (if it is still the same opening),
// everything else leaves it open. A container's stop takes seconds: the
// footer says so until it ends, and closing the panel leaves it running.
#pragma once

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "base/defaults_store.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace halvo {

class KillPanelModel;
class KillPanelTable;
class PortReferencePopover;
class ProcessStore;
namespace ui {
class ElidedLabel;
class TAVEmptyState;
class TAVSearchField;
}  // namespace ui

class HalvoKillPanelView final : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kColumnHeaderHeight = 28;
    static constexpr int kEmptyListHeight = 160;
    static constexpr int kRowContentHeight = 48;
    static constexpr int kMaxVisibleRows = 8;

    HalvoKillPanelView(ProcessStore& store, DefaultsStoring& defaults, std::function<void()> close,
                       QWidget* parent = nullptr);
    ~HalvoKillPanelView() override;

    // 28 + 48 x min(8, rows), or 28 + 160 when no row matches.
    static int listHeight(int rowCount);

    // The ids of the ticked rows that are still in the store's list (hidden
    // by the query or not).
    std::set<std::string> validSelection() const;
    // Ticks or unticks the row with `id`.
    void toggleTick(const std::string& id);
    // Puts `port` on the leave-alone list (the row's context menu does).
    void leaveAlone(int64_t port);

    // Return and the Kill button: the batch kill of the ticked rows, or the
    // single kill of the keyboard selection when nothing is ticked.
    QCoro::Task<> killAction();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void describeControls();
    void layOut();
    void connectControls();
    void followStore();
    QCoro::Task<> singleKill();
    QCoro::Task<> batchKill(std::set<std::string> ids);
    // The index of `id` in the rows as the store has them now; -1 when gone.
    int currentRowOf(const std::string& id);
    void scheduleRowsUpdate();
    void updateRows();
    QString takenPortsBody() const;
    void updateSelection();
    void updateKillButton();
    void updateFeedback();
    void togglePortHelp();

    ProcessStore& store_;
    DefaultsStoring& defaults_;
    std::function<void()> close_;
    std::set<std::string> multiSelection_;
    bool rowsUpdatePending_ = false;
    // Counts showings, so that a slow kill does not close a later one.
    int64_t openings_ = 0;

    ui::TAVSearchField* search_;
    QToolButton* help_;
    QWidget* listSection_;
    KillPanelModel* model_;
    KillPanelTable* table_;
    ui::TAVEmptyState* empty_;
    ui::ElidedLabel* feedback_;
    QCheckBox* processTree_;
    QCheckBox* throughSupervisor_;  // shown while a row has a unit or pm2 app
    QPushButton* cancel_;
    QPushButton* kill_;
    QPointer<PortReferencePopover> popover_;
};

}  // namespace halvo
