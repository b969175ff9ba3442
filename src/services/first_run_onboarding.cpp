#include "services/first_run_onboarding.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "appkit/first_run_guard.h"
#include "ui/controls.h"
#include "ui/palette.h"
#include "ui/style.h"
#include "ui/window_presenter.h"

namespace halvo {
namespace {

QWidget* highlightRow(const TAVFirstRunOnboarding::Highlight& highlight, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* icon = new QLabel(row);
    icon->setPixmap(QIcon::fromTheme(highlight.icon).pixmap(20, 20));
    icon->setFixedSize(20, 20);
    icon->setAccessibleName(QString());  // decoration only
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(ui::plainLabel(highlight.title,
                                    ui::textFont(ui::textSize::body, QFont::DemiBold),
                                    ui::palette::textPrimary, row, true));
    texts->addWidget(ui::plainLabel(highlight.body, ui::textFont(ui::textSize::caption),
                                    ui::palette::textSecondary, row, true));
    layout->addLayout(texts, 1);
    return row;
}

}  // namespace

QSize TAVFirstRunOnboarding::windowSize() const {
    const bool withHighlights = !highlights.empty();
    return kind == Kind::windowed ? QSize(540, withHighlights ? 520 : 460)
                                  : QSize(480, withHighlights ? 560 : 440);
}

QString TAVFirstRunOnboarding::buttonLabel() const {
    if (primaryActionLabel) {
        return *primaryActionLabel;
    }
    return kind == Kind::windowed ? QStringLiteral("Get started") : QStringLiteral("Try it now");
}

QWidget* TAVFirstRunOnboarding::presentIfNeeded(TAVFirstRunOnboarding config,
                                                DefaultsStoring& defaults,
                                                TAVLaunchAtLoginToggle launchAtLogin,
                                                ui::TAVSatelliteWindowPresenter& presenter) {
    const std::string slug = config.slug.toStdString();
    if (!TAVFirstRunGuard::shouldShow(slug, defaults)) {
        return nullptr;
    }
    const QString id = QString::fromStdString(TAVFirstRunGuard::windowId(slug));
    auto dismiss = [slug, id, &defaults, &presenter] {
        TAVFirstRunGuard::markCompleted(slug, defaults);
        if (QWidget* window = presenter.window(id)) {
            window->close();
        }
    };
    const QString title = QStringLiteral("Welcome to %1").arg(config.displayName);
    const QSize size = config.windowSize();
    return presenter.present(id, title, size, false, [&] {
        return std::make_unique<TAVFirstRunOnboardingView>(std::move(config),
                                                           std::move(launchAtLogin), dismiss);
    });
}

std::vector<TAVFirstRunOnboarding::Highlight> halvoHighlights(bool hotkeyHeld) {
    using Highlight = TAVFirstRunOnboarding::Highlight;
    const QString keyboard = QStringLiteral("input-keyboard");
    return {
        {QStringLiteral("edit-find"), QStringLiteral("Find what's on a port"),
         QStringLiteral("Search by port number or process name — Halvo shows exactly what's "
                        "listening, no lsof required.")},
        {QStringLiteral("process-stop"), QStringLiteral("Kill it, cleanly"),
         QStringLiteral("One click ends the process — select several rows to end them all in one "
                        "go.")},
        hotkeyHeld ? Highlight{keyboard, QStringLiteral("One hotkey away"),
                               QStringLiteral("Press Shift+Super+K any time to open the kill "
                                              "panel — no need to find the tray icon first.")}
                   : Highlight{keyboard, QStringLiteral("One shortcut away"),
                               QStringLiteral("Shift+Super+K isn't available on this desktop: "
                                              "bind `halvo --panel` to a key in your desktop's "
                                              "keyboard settings — no need to find the tray "
                                              "icon first.")},
    };
}

TAVFirstRunOnboardingView::TAVFirstRunOnboardingView(TAVFirstRunOnboarding config,
                                                     TAVLaunchAtLoginToggle launchAtLogin,
                                                     std::function<void()> onDismiss,
                                                     QWidget* parent)
    : QWidget(parent),
      config_(std::move(config)),
      launchAtLogin_(std::move(launchAtLogin)),
      onDismiss_(std::move(onDismiss)),
      highlights_(new QWidget(this)),
      loginError_(nullptr) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 24);
    layout->setSpacing(12);
    addIntroduction(*layout);
    layout->addSpacing(12);
    addLoginSwitch(*layout);
    layout->addStretch();
    addButtons(*layout);
}

void TAVFirstRunOnboardingView::addIntroduction(QVBoxLayout& layout) {
    const QString name = config_.displayName;
    const bool tray = config_.kind == TAVFirstRunOnboarding::Kind::tray;
    layout.addWidget(ui::plainLabel(tray ? name + QStringLiteral(" lives in your system tray.")
                                         : QStringLiteral("Welcome to %1.").arg(name),
                                    ui::textFont(ui::textSize::title, QFont::DemiBold),
                                    ui::palette::textPrimary, this, true));
    layout.addWidget(ui::plainLabel(
        tray ? QStringLiteral("Click its icon in the tray any time. %1 stays out of "
                              "your taskbar and waits quietly until you need it.")
                   .arg(name)
             : QStringLiteral("Take a moment to get oriented. You can return here any time "
                              "from the Help menu."),
        ui::textFont(ui::textSize::body), ui::palette::textSecondary, this, true));
    layout.addSpacing(8);
    auto* rows = new QVBoxLayout(highlights_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(16);
    setHighlights(config_.highlights);
    layout.addWidget(highlights_);
}

void TAVFirstRunOnboardingView::setHighlights(
    const std::vector<TAVFirstRunOnboarding::Highlight>& highlights) {
    qDeleteAll(highlights_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
    for (const TAVFirstRunOnboarding::Highlight& highlight : highlights) {
        highlights_->layout()->addWidget(highlightRow(highlight, highlights_));
    }
}

void TAVFirstRunOnboardingView::addLoginSwitch(QVBoxLayout& layout) {
    auto* login = new QCheckBox(QStringLiteral("Open %1 at login").arg(config_.displayName), this);
    login->setChecked(launchAtLogin_.isEnabled());
    // Fusion's box is nearly invisible on the dark panel.
    login->setStyleSheet(QStringLiteral("QCheckBox { spacing: 10px; }"
                                        "QCheckBox::indicator { width: 14px; height: 14px;"
                                        " border: 1px solid %1; border-radius: 4px;"
                                        " background: %2; }"
                                        "QCheckBox::indicator:checked { background: %3;"
                                        " border-color: %3; }")
                             .arg(QColor(ui::palette::textSecondary).name(),
                                  QColor(ui::palette::panel2).name(),
                                  QColor(ui::palette::accent).name()));
    layout.addWidget(login);
    auto* caption = ui::plainLabel(
        QStringLiteral("Recommended — keeps the tray icon ready every time you log in."),
        ui::textFont(ui::textSize::caption), ui::palette::textTertiary, this, true);
    caption->setContentsMargins(24, 0, 0, 0);
    layout.addWidget(caption);
    loginError_ = ui::plainLabel(QString(), ui::textFont(ui::textSize::caption),
                                 ui::palette::danger, this, true);
    loginError_->setContentsMargins(24, 0, 0, 0);
    loginError_->hide();
    layout.addWidget(loginError_);
    connect(login, &QCheckBox::toggled, this, &TAVFirstRunOnboardingView::setLaunchAtLogin);
}

void TAVFirstRunOnboardingView::addButtons(QVBoxLayout& layout) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* done = new ui::TAVButton(QStringLiteral("Done"), ui::TAVButton::Variant::secondary, this);
    auto* primary = new ui::TAVButton(config_.buttonLabel(), ui::TAVButton::Variant::primary, this);
    primary->setDefault(true);
    buttons->addWidget(done);
    buttons->addWidget(primary);
    layout.addLayout(buttons);

    connect(done, &QPushButton::clicked, this, [this] { std::exchange(onDismiss_, nullptr)(); });
    connect(primary, &QPushButton::clicked, this, [this] {
        const std::function<void()> action = config_.onPrimaryAction;
        if (onDismiss_) {
            std::exchange(onDismiss_, nullptr)();
        }
        if (action) {
            action();
        }
    });
}

TAVFirstRunOnboardingView::~TAVFirstRunOnboardingView() = default;

void TAVFirstRunOnboardingView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Closing the window by its own button dismisses it as well.
    if (!event->spontaneous() && onDismiss_) {
        std::exchange(onDismiss_, nullptr)();
    }
}

void TAVFirstRunOnboardingView::setLaunchAtLogin(bool enabled) {
    const std::optional<LaunchAtLoginError> error = launchAtLogin_.setEnabled(enabled);
    if (error) {
        qWarning("halvo: launch at login: %s", error->detail.c_str());
    }
    // The switch keeps the user's choice either way.
    loginError_->setText(error ? QString::fromUtf8(kLaunchAtLoginFailureMessage.data(),
                                                   kLaunchAtLoginFailureMessage.size())
                               : QString());
    loginError_->setVisible(error.has_value());
}

}  // namespace halvo
