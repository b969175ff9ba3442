#include "services/update_window.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/palette.h"
#include "ui/style.h"
#include "ui/window_presenter.h"

namespace halvo {
namespace {

// Wrapped and selectable, so a version or an error can be copied.
QLabel* textLabel(const QString& text, const QFont& font, QRgb colour, QWidget* parent) {
    QLabel* label = ui::plainLabel(text, font, colour, parent, true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

class UpdateOutcomeView final : public QWidget {
  public:
    UpdateOutcomeView(const UpdateOutcome& outcome, std::function<void()> install) {
        using Kind = TAVUpdateState::Kind;
        const TAVUpdateState& state = outcome.state;
        const QString version = QString::fromStdString(state.version.value_or(""));
        QString heading;
        QString body;
        switch (state.kind) {
            case Kind::updateAvailable:
                heading = QStringLiteral("%1 %2 is available").arg(outcome.productName, version);
                body = QStringLiteral(
                           "You have %1. Install it with your package manager; the "
                           "release notes say what changed.")
                           .arg(outcome.runningVersion);
                break;
            case Kind::noUpdateAvailable:
                heading = QStringLiteral("You're up to date");
                body = QStringLiteral("%1 %2 is the newest version.")
                           .arg(outcome.productName, outcome.runningVersion);
                break;
            default:
                heading = QStringLiteral("Couldn't check for updates");
                body = QString::fromStdString(state.statusLine());
                break;
        }
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(28, 24, 28, 20);
        layout->setSpacing(8);
        layout->addWidget(
            textLabel(heading, ui::textFont(18, QFont::DemiBold), ui::palette::textPrimary, this));
        layout->addWidget(textLabel(body, ui::textFont(13), ui::palette::textSecondary, this));
        layout->addStretch();

        auto* buttons = new QHBoxLayout;
        buttons->setSpacing(10);
        if (state.kind == Kind::updateAvailable && outcome.releaseNotes.isValid()) {
            auto* notes = new QPushButton(QStringLiteral("Release notes"), this);
            notes->setFlat(true);
            notes->setCursor(Qt::PointingHandCursor);
            notes->setToolTip(outcome.releaseNotes.toDisplayString());
            notes->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none;"
                                                " background: transparent; padding: 2px 0; }"
                                                "QPushButton:hover { text-decoration: underline; }")
                                     .arg(QColor(ui::palette::accent).name()));
            connect(notes, &QPushButton::clicked, this,
                    [url = outcome.releaseNotes] { QDesktopServices::openUrl(url); });
            buttons->addWidget(notes);
        }
        buttons->addStretch();
        if (state.kind == Kind::updateAvailable) {
            auto* later =
                new ui::TAVButton(QStringLiteral("Later"), ui::TAVButton::Variant::secondary, this);
            auto* installButton =
                new ui::TAVButton(QStringLiteral("Install"), ui::TAVButton::Variant::primary, this);
            installButton->setDefault(true);
            buttons->addWidget(later);
            buttons->addWidget(installButton);
            connect(later, &QPushButton::clicked, this, [this] { window()->close(); });
            connect(installButton, &QPushButton::clicked, this, [this, install] {
                if (install) {
                    install();
                }
                window()->close();
            });
        } else {
            auto* ok =
                new ui::TAVButton(QStringLiteral("OK"), ui::TAVButton::Variant::primary, this);
            ok->setDefault(true);
            buttons->addWidget(ok);
            connect(ok, &QPushButton::clicked, this, [this] { window()->close(); });
        }
        layout->addLayout(buttons);
    }
};

}  // namespace

QWidget* openUpdateOutcome(ui::TAVSatelliteWindowPresenter& presenter, const UpdateOutcome& outcome,
                           std::function<void()> install) {
    const QString id = QString::fromLatin1(kUpdateWindowId);
    // An open window shows an older answer: this one replaces it.
    if (QWidget* open = presenter.window(id)) {
        open->close();
    }
    return presenter.present(id, QStringLiteral("Software Update"), QSize(440, 200), false, [&] {
        return std::make_unique<UpdateOutcomeView>(outcome, std::move(install));
    });
}

}  // namespace halvo
