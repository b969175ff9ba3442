// The one place that knows how the kill panel is shown and closed. The menu,
// the hotkey and onboarding open it through here. Main thread only.
#pragma once

#include <QString>

#include <memory>

#include "base/defaults_store.h"

namespace halvo {

class ProcessStore;
namespace ui {
class TAVSatelliteWindowPresenter;
}

class HalvoKillCoordinator final {
  public:
    static inline const QString kPanelId = QStringLiteral("halvo.kill-panel");

    static HalvoKillCoordinator& shared();

    // Handed over once at start-up; showPanel does nothing before. `defaults`
    // receives the panel's recent kills.
    void setStore(ProcessStore* store, std::shared_ptr<DefaultsStoring> defaults);
    ProcessStore* store() const { return store_; }

    // Shows the panel, or brings the open one forward as it is (size and
    // position kept); either way the store gets a new focus request.
    void showPanel();
    // Resets the store and closes the panel's window.
    void closePanel();

  private:
    HalvoKillCoordinator();

    ProcessStore* store_ = nullptr;
    std::shared_ptr<DefaultsStoring> defaults_;
    ui::TAVSatelliteWindowPresenter& presenter_;
};

}  // namespace halvo
