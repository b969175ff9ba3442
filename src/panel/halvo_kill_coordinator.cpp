#include "panel/halvo_kill_coordinator.h"

#include <QUuid>

#include "panel/kill_panel_view.h"
#include "state/process_store.h"
#include "ui/window_presenter.h"

namespace halvo {

HalvoKillCoordinator::HalvoKillCoordinator()
    : presenter_(ui::TAVSatelliteWindowPresenter::shared()) {}

HalvoKillCoordinator& HalvoKillCoordinator::shared() {
    static HalvoKillCoordinator coordinator;
    return coordinator;
}

void HalvoKillCoordinator::setStore(ProcessStore* store,
                                    std::shared_ptr<DefaultsStoring> defaults) {
    store_ = store;
    defaults_ = std::move(defaults);
}

void HalvoKillCoordinator::showPanel() {
    if (store_ == nullptr || !defaults_) {
        return;
    }
    store_->setFocusRequestId(QUuid::createUuid());
    presenter_.present(kPanelId, QStringLiteral("Halvo"), QSize(720, 500), true, [this] {
        return std::make_unique<HalvoKillPanelView>(*store_, *defaults_, [this] { closePanel(); });
    });
}

void HalvoKillCoordinator::closePanel() {
    if (store_ != nullptr) {
        store_->reset();
    }
    if (QWidget* window = presenter_.window(kPanelId)) {
        window->close();
    }
}

}  // namespace halvo
