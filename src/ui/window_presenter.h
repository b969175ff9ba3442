// Every window of the application opens through the presenter: at most one
// window per identifier, brought forward when presented again, forgotten as
// soon as it closes (so the next present builds a fresh window and view).
// Also shows the short "Copied" confirmation after a copy. Main thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>

namespace halvo::ui {

// Centres `window` on the primary screen.
void centreOnScreen(QWidget& window);
// Shows `window`, restores it if minimised, raises and activates it.
void bringForward(QWidget& window);

class TAVSatelliteWindowPresenter final : public QObject {
    Q_OBJECT
  public:
    // The process-wide presenter.
    static TAVSatelliteWindowPresenter& shared();

    // Shows the window for `id`. An open one is raised and activated as it is:
    // `content` is not called and its size is kept. Otherwise a new window of
    // `size` (also its minimum size), centred, hosts what `content` builds.
    QWidget* present(const QString& id, const QString& title, QSize size, bool resizable,
                     const std::function<std::unique_ptr<QWidget>()>& content);
    // The open window for `id`, or null.
    QWidget* window(const QString& id) const;

    // Puts `diagnostics` on the clipboard as plain text and shows "Copied";
    // true when the clipboard took the text.
    bool copyDiagnostics(const QString& diagnostics);
    // The confirmation window while it is shown, or null.
    QWidget* hudWindow() const { return hud_; }

    static constexpr int kHudMilliseconds = 1500;

  private:
    void showCopied();

    std::map<QString, QPointer<QWidget>> windows_;
    QPointer<QWidget> hud_;
};

}  // namespace halvo::ui
