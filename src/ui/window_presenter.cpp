#include "ui/window_presenter.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/palette.h"
#include "ui/style.h"

namespace halvo::ui {
namespace {

// A top-level window that says when it has really closed (a close that its
// content refused does not count).
class SatelliteWindow final : public QWidget {
  public:
    explicit SatelliteWindow(std::function<void()> closed) : closed_(std::move(closed)) {
        setAttribute(Qt::WA_DeleteOnClose);
    }

  protected:
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (event->isAccepted() && closed_) {
            std::exchange(closed_, nullptr)();
        }
    }

  private:
    std::function<void()> closed_;
};

void centre(QWidget& window) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect frame({}, window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void bringForward(QWidget& window) {
    window.show();
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
}

}  // namespace

TAVSatelliteWindowPresenter& TAVSatelliteWindowPresenter::shared() {
    static TAVSatelliteWindowPresenter presenter;
    return presenter;
}

QWidget* TAVSatelliteWindowPresenter::present(
    const QString& id, const QString& title, QSize size, bool resizable,
    const std::function<std::unique_ptr<QWidget>()>& content) {
    if (QWidget* open = window(id)) {
        bringForward(*open);
        return open;
    }
    QPointer<TAVSatelliteWindowPresenter> self(this);
    auto* window = new SatelliteWindow([self, id] {
        if (self) {
            self->windows_.erase(id);
        }
    });
    window->setWindowTitle(title);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content().release());
    window->setMinimumSize(size);
    window->resize(size);
    if (!resizable) {
        window->setMaximumSize(size);
    }
    centre(*window);
    windows_[id] = window;
    bringForward(*window);
    return window;
}

QWidget* TAVSatelliteWindowPresenter::window(const QString& id) const {
    const auto found = windows_.find(id);
    return found == windows_.end() ? nullptr : found->second.data();
}

bool TAVSatelliteWindowPresenter::copyDiagnostics(const QString& diagnostics) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(diagnostics);
    const bool taken = clipboard->text() == diagnostics;
    showCopied();
    return taken;
}

void TAVSatelliteWindowPresenter::showCopied() {
    if (hud_) {
        hud_->close();
    }
    auto* hud = new QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint |
                                         Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    hud->setAttribute(Qt::WA_DeleteOnClose);
    hud->setAttribute(Qt::WA_ShowWithoutActivating);
    hud->setAttribute(Qt::WA_TranslucentBackground);
    hud->setObjectName(QStringLiteral("halvo.copied"));
    hud->setFixedSize(140, 56);
    auto* layout = new QVBoxLayout(hud);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("Copied"), hud);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(textFont(textSize::body, QFont::Medium));
    label->setStyleSheet(QStringLiteral("background: %1; color: %2; border: 1px solid %3;"
                                        " border-radius: 12px;")
                             .arg(QColor(palette::panel2).name(),
                                  QColor(palette::textPrimary).name(),
                                  QColor(palette::line).name()));
    layout->addWidget(label);
    centre(*hud);
    hud->show();
    hud_ = hud;
    QTimer::singleShot(kHudMilliseconds, hud, &QWidget::close);
}

}  // namespace halvo::ui
