// The welcome window shown once, on the first start: what the application is,
// where to find it, three highlights, the launch-at-login switch and a button
// to begin. Dismissing it, by any route, marks the product's first run as
// completed in the settings.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

#include "appkit/launch_at_login.h"
#include "base/defaults_store.h"

class QLabel;
class QVBoxLayout;

namespace halvo {
namespace ui {
class TAVSatelliteWindowPresenter;
}

struct TAVFirstRunOnboarding {
    enum class Kind { tray, windowed };
    struct Highlight {
        QString icon;  // a freedesktop icon name
        QString title;
        QString body;
    };

    QString slug;
    QString displayName;  // the brand's name in the texts
    Kind kind = Kind::tray;
    std::optional<QString> primaryActionLabel;
    std::vector<Highlight> highlights;
    std::function<void()> onPrimaryAction;

    // 480 x 560 (tray) or 540 x 520 (windowed) with highlights; 440 and 460 high without.
    QSize windowSize() const;
    // The given label, else "Try it now" (tray) or "Get started" (windowed).
    QString buttonLabel() const;

    // Shows the window through `presenter` unless the first run is completed;
    // returns the window or null.
    static QWidget* presentIfNeeded(TAVFirstRunOnboarding config, DefaultsStoring& defaults,
                                    TAVLaunchAtLoginToggle launchAtLogin,
                                    ui::TAVSatelliteWindowPresenter& presenter);
};

// The three highlights of Halvo. The hotkey's names Shift+Super+K when
// `hotkeyHeld`, else says how to bind `halvo --panel` in the desktop instead.
std::vector<TAVFirstRunOnboarding::Highlight> halvoHighlights(bool hotkeyHeld);

class TAVFirstRunOnboardingView final : public QWidget {
    Q_OBJECT
  public:
    TAVFirstRunOnboardingView(TAVFirstRunOnboarding config, TAVLaunchAtLoginToggle launchAtLogin,
                              std::function<void()> onDismiss, QWidget* parent = nullptr);
    ~TAVFirstRunOnboardingView() override;

    // Replaces the highlights shown.
    void setHighlights(const std::vector<TAVFirstRunOnboarding::Highlight>& highlights);

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    // The title, the text below it and the highlights.
    void addIntroduction(QVBoxLayout& layout);
    // The launch-at-login switch, its caption and the line that says a change failed.
    void addLoginSwitch(QVBoxLayout& layout);
    // "Done" and the primary action, both of which dismiss the window.
    void addButtons(QVBoxLayout& layout);
    void setLaunchAtLogin(bool enabled);

    TAVFirstRunOnboarding config_;
    TAVLaunchAtLoginToggle launchAtLogin_;
    std::function<void()> onDismiss_;
    QWidget* highlights_;
    QLabel* loginError_;
};

}  // namespace halvo
