// The one place that knows how the kill panel is shown and closed. The menu,
// the hotkey and onboarding open it through here. Main thread only.
//
// The panel's window is built at its first opening and only hidden when it
// closes, so that the next opening shows it without building it again; each
// opening lists the ports afresh, never the rows of an earlier one.
#pragma once

#include <QSize>

#include <memory>

#include "base/defaults_store.h"

class QWidget;

namespace halvo {

class HalvoKillPanelView;
class ProcessStore;

class HalvoKillCoordinator final {
  public:
    static constexpr QSize kPanelSize{720, 500};

    static HalvoKillCoordinator& shared();
    ~HalvoKillCoordinator();

    // Handed over once at start-up, and null before the store goes (which
    // drops the panel built over it); showPanel does nothing without one.
    // `defaults` receives the panel's recent kills.
    void setStore(ProcessStore* store, std::shared_ptr<DefaultsStoring> defaults);
    ProcessStore* store() const { return store_; }

    // Shows the panel at its default size, centred, or brings the open one
    // forward as it is (size and position kept); either way the store gets a
    // new focus request.
    void showPanel();
    // Resets the store and closes (hides) the panel's window.
    void closePanel();
    // The panel's window once built, shown or hidden; null before.
    QWidget* panel() const;

  private:
    HalvoKillCoordinator() = default;

    ProcessStore* store_ = nullptr;
    std::shared_ptr<DefaultsStoring> defaults_;
    std::unique_ptr<HalvoKillPanelView> panel_;
};

}  // namespace halvo
