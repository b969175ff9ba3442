// The application services as the tray menu uses them: its update, support
// and about rows.
#pragma once

#include "app/status_menu.h"
#include "services/app_services.h"

namespace halvo {

class AppServicesMenu final : public AppServicesOffering {
  public:
    // `services` must outlive this.
    explicit AppServicesMenu(AppServices& services) : services_(services) {}

    std::optional<QString> pendingUpdateVersion() const override {
        return services_.pendingUpdateVersion();
    }
    bool isUpdateReadyToInstall() const override { return services_.isUpdateReadyToInstall(); }
    bool canCheckForUpdates() const override { return services_.canCheckForUpdates(); }
    void installPendingUpdate() override { services_.installPendingUpdate(); }
    void checkForUpdates() override { services_.checkForUpdates(); }
    void showSupport() override { services_.showSupport(); }
    void showAbout() override { services_.showAbout(); }

  private:
    AppServices& services_;
};

}  // namespace halvo
