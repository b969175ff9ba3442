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

struct Texts {
    QString heading;
    QString body;
};

Texts textsOf(const UpdateOutcome& outcome) {
    using Kind = TAVUpdateState::Kind;
    const QString version = QString::fromStdString(outcome.state.version.value_or(""));
    switch (outcome.state.kind) {
        case Kind::updateAvailable:
            return {QStringLiteral("%1 %2 is available").arg(outcome.productName, version),
                    QStringLiteral("You have %1. Install it with your package manager; the "
                                   "release notes say what changed.")
                        .arg(outcome.runningVersion)};
        case Kind::noUpdateAvailable:
            return {QStringLiteral("You're up to date"),
                    QStringLiteral("%1 %2 is the newest version.")
                        .arg(outcome.productName, outcome.runningVersion)};
        default:
            return {QStringLiteral("Couldn't check for updates"),
                    QString::fromStdString(outcome.state.statusLine())};
    }
}

class UpdateOutcomeView final : public QWidget {
  public:
    UpdateOutcomeView(const UpdateOutcome& outcome, std::function<void()> install) {
        const Texts texts = textsOf(outcome);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(28, 24, 28, 20);
        layout->setSpacing(8);
        layout->addWidget(textLabel(texts.heading, ui::textFont(18, QFont::DemiBold),
                                    ui::palette::textPrimary, this));
        layout->addWidget(
            textLabel(texts.body, ui::textFont(13), ui::palette::textSecondary, this));
        layout->addStretch();
        layout->addLayout(buttons(outcome, std::move(install)));
    }

  private:
    // "Release notes" on the left; "Later" and "Install" for an update, else "OK".
    QHBoxLayout* buttons(const UpdateOutcome& outcome, std::function<void()> install) {
        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        const bool available = outcome.state.kind == TAVUpdateState::Kind::updateAvailable;
        if (available && outcome.releaseNotes.isValid()) {
            QPushButton* notes = ui::linkButton(QStringLiteral("Release notes"), this);
            notes->setToolTip(outcome.releaseNotes.toDisplayString());
            connect(notes, &QPushButton::clicked, this,
                    [url = outcome.releaseNotes] { QDesktopServices::openUrl(url); });
            row->addWidget(notes);
        }
        row->addStretch();
        if (!available) {
            auto* ok =
                new ui::TAVButton(QStringLiteral("OK"), ui::TAVButton::Variant::primary, this);
            ok->setDefault(true);
            row->addWidget(ok);
            connect(ok, &QPushButton::clicked, this, [this] { window()->close(); });
            return row;
        }
        auto* later =
            new ui::TAVButton(QStringLiteral("Later"), ui::TAVButton::Variant::secondary, this);
        auto* installButton =
            new ui::TAVButton(QStringLiteral("Install"), ui::TAVButton::Variant::primary, this);
        installButton->setDefault(true);
        row->addWidget(later);
        row->addWidget(installButton);
        connect(later, &QPushButton::clicked, this, [this] { window()->close(); });
        connect(installButton, &QPushButton::clicked, this, [this, install] {
            if (install) {
                install();
            }
            window()->close();
        });
        return row;
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
