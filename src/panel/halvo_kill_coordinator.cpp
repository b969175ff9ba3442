#include "panel/halvo_kill_coordinator.h"

#include <QUuid>

#include "panel/kill_panel_view.h"
#include "state/process_store.h"
#include "ui/window_presenter.h"

namespace halvo {

HalvoKillCoordinator& HalvoKillCoordinator::shared() {
    static HalvoKillCoordinator coordinator;
    return coordinator;
}

HalvoKillCoordinator::~HalvoKillCoordinator() = default;

void HalvoKillCoordinator::setStore(ProcessStore* store,
                                    std::shared_ptr<DefaultsStoring> defaults) {
    panel_.reset();
    store_ = store;
    defaults_ = std::move(defaults);
}

void HalvoKillCoordinator::showPanel() {
    if (store_ == nullptr || !defaults_) {
        return;
    }
    store_->setFocusRequestId(QUuid::createUuid());
    if (!panel_) {
        panel_ =
            std::make_unique<HalvoKillPanelView>(*store_, *defaults_, [this] { closePanel(); });
        panel_->setWindowTitle(QStringLiteral("Halvo"));
        panel_->setMinimumSize(kPanelSize);
    }
    if (!panel_->isVisible()) {
        panel_->resize(kPanelSize);
        ui::centreOnScreen(*panel_);
    }
    ui::bringForward(*panel_);
}

void HalvoKillCoordinator::closePanel() {
    if (store_ != nullptr) {
        store_->reset();
    }
    if (panel_) {
        panel_->close();
    }
}

QWidget* HalvoKillCoordinator::panel() const {
    return panel_.get();
}

}  // namespace halvo
