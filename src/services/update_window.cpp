#include "services/update_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/palette.h"
#include "ui/style.h"
#include "ui/window_presenter.h"

namespace halvo {
namespace {

using Kind = TAVUpdateState::Kind;

// Wrapped and selectable, so a version, an error or a command can be copied.
QLabel* textLabel(const QString& text, const QFont& font, QRgb colour, QWidget* parent) {
    QLabel* label = ui::plainLabel(text, font, colour, parent, true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

struct Texts {
    Texts(QString heading, QString body, QString command = {})
        : heading(std::move(heading)), body(std::move(body)), command(std::move(command)) {}
    QString heading;
    QString body;
    QString command;  // to copy into a terminal
};

// The apt command for a kept file: home as "~", quoted unless plain.
QString installCommand(const QString& file) {
    QString path = file;
    const QString home = QDir::homePath() + u'/';
    const bool inHome = path.startsWith(home);
    if (inHome) {
        path = path.mid(home.size());
    }
    if (path.contains(QRegularExpression(QStringLiteral("[^A-Za-z0-9_./+-]")))) {
        path = u'\'' + path.replace(u'\'', QStringLiteral("'\\''")) + u'\'';
    }
    return QStringLiteral("sudo apt install ") + (inHome ? QStringLiteral("~/") : QString()) + path;
}

Texts textsOf(const UpdateOutcome& outcome) {
    const QString name = outcome.productName;
    const QString version = QString::fromStdString(outcome.state.version.value_or(""));
    switch (outcome.state.kind) {
        case Kind::updateAvailable:
            return {QStringLiteral("%1 %2 is available").arg(name, version),
                    outcome.canDownload
                        ? QStringLiteral("You have %1. Install downloads it, checks the maker's "
                                         "signature and installs it.")
                              .arg(outcome.runningVersion)
                        : QStringLiteral("You have %1. Install it with your package manager; the "
                                         "release notes say what changed.")
                              .arg(outcome.runningVersion)};
        case Kind::noUpdateAvailable:
            return {
                QStringLiteral("You're up to date"),
                QStringLiteral("%1 %2 is the newest version.").arg(name, outcome.runningVersion)};
        case Kind::downloading:
            return {QStringLiteral("Downloading %1 %2…").arg(name, version),
                    QStringLiteral("Nothing is installed until the download is verified.")};
        case Kind::readyToInstall:
            return {QStringLiteral("%1 %2 is ready to install").arg(name, version),
                    QStringLiteral("The download is verified. Installing asks for an "
                                   "administrator's password.")};
        case Kind::installing:
            return {QStringLiteral("Installing %1 %2…").arg(name, version),
                    QStringLiteral("The package system is installing it.")};
        case Kind::failed: {
            const TAVUpdateError::Kind error =
                outcome.state.error ? outcome.state.error->kind : TAVUpdateError::Kind::unknown;
            const QString line = QString::fromStdString(outcome.state.statusLine());
            if (error == TAVUpdateError::Kind::updateCheckFailed) {
                return {QStringLiteral("Couldn't check for updates"), line};
            }
            if (!outcome.manualFile.isEmpty()) {
                return {QStringLiteral("Install %1 yourself").arg(name),
                        line + QStringLiteral(". The verified package installs from a terminal:"),
                        installCommand(outcome.manualFile)};
            }
            return {QStringLiteral("Couldn't update %1").arg(name), line};
        }
        default:
            return outcome.installed
                       ? Texts{QStringLiteral("%1 is updated").arg(name),
                               QStringLiteral("Restart %1 to use the new version.").arg(name)}
                       : Texts{name, QString::fromStdString(outcome.state.statusLine())};
    }
}

class UpdateOutcomeView final : public QWidget {
  public:
    UpdateOutcomeView() {
        setObjectName(QStringLiteral("update-outcome"));
        layout_ = new QVBoxLayout(this);
        layout_->setContentsMargins(0, 0, 0, 0);
    }

    void display(const UpdateOutcome& outcome, UpdateActions actions) {
        // Progress alone moves the bar; anything else builds the page anew.
        if (progress_ && outcome.state.kind == Kind::downloading) {
            progress_->setValue(int(outcome.state.progress.value_or(0) * 1000));
            return;
        }
        if (page_) {
            // Later: this may run inside a click of one of its buttons.
            page_->hide();
            page_->setParent(nullptr);
            page_->deleteLater();
        }
        progress_ = nullptr;
        page_ = new QWidget(this);
        layout_->addWidget(page_);
        const Texts texts = textsOf(outcome);
        auto* layout = new QVBoxLayout(page_);
        layout->setContentsMargins(28, 24, 28, 20);
        layout->setSpacing(8);
        layout->addWidget(textLabel(texts.heading,
                                    ui::textFont(ui::textSize::title, QFont::DemiBold),
                                    ui::palette::textPrimary, page_));
        if (!texts.body.isEmpty()) {
            layout->addWidget(textLabel(texts.body, ui::textFont(ui::textSize::body),
                                        ui::palette::textSecondary, page_));
        }
        if (!texts.command.isEmpty()) {
            layout->addWidget(textLabel(texts.command, ui::monoFont(ui::textSize::caption),
                                        ui::palette::textPrimary, page_));
        }
        if (outcome.state.kind == Kind::downloading || outcome.state.kind == Kind::installing) {
            progress_ = new QProgressBar(page_);
            progress_->setTextVisible(false);
            // Installing has no measure: the bar only says it is under way.
            progress_->setRange(0, outcome.state.kind == Kind::downloading ? 1000 : 0);
            progress_->setValue(int(outcome.state.progress.value_or(0) * 1000));
            layout->addWidget(progress_);
            if (outcome.state.kind == Kind::installing) {
                progress_ = nullptr;
            }
        }
        layout->addStretch();
        layout->addLayout(buttons(outcome, std::move(actions)));
        page_->show();
    }

  private:
    ui::TAVButton* addButton(QHBoxLayout* row, const QString& text, bool primary,
                             std::function<void()> action, bool closes) {
        auto* button = new ui::TAVButton(
            text, primary ? ui::TAVButton::Variant::primary : ui::TAVButton::Variant::secondary,
            page_);
        button->setDefault(primary);
        row->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, action, closes] {
            if (action) {
                action();
            }
            if (closes) {
                window()->close();
            }
        });
        return button;
    }

    // "Release notes" on the left of an available update; then the state's actions.
    QHBoxLayout* buttons(const UpdateOutcome& outcome, UpdateActions actions) {
        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        const Kind kind = outcome.state.kind;
        if (kind == Kind::updateAvailable && outcome.releaseNotes.isValid()) {
            QPushButton* notes = ui::linkButton(QStringLiteral("Release notes"), page_);
            notes->setToolTip(outcome.releaseNotes.toDisplayString());
            connect(notes, &QPushButton::clicked, this,
                    [url = outcome.releaseNotes] { QDesktopServices::openUrl(url); });
            row->addWidget(notes);
        }
        row->addStretch();
        if (kind == Kind::updateAvailable || kind == Kind::readyToInstall) {
            addButton(row, QStringLiteral("Later"), false, {}, true);
            addButton(row, QStringLiteral("Install"), true, actions.install,
                      kind == Kind::updateAvailable && !outcome.canDownload);
        } else if (kind == Kind::downloading) {
            addButton(row, QStringLiteral("Cancel"), false, actions.cancel, true);
        } else if (kind == Kind::idle && outcome.installed) {
            addButton(row, QStringLiteral("Later"), false, {}, true);
            addButton(row, QStringLiteral("Restart %1").arg(outcome.productName), true,
                      actions.restart, false);
        } else if (kind != Kind::installing) {
            addButton(row, QStringLiteral("OK"), true, {}, true);
        }
        return row;
    }

    QVBoxLayout* layout_ = nullptr;
    QWidget* page_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace

QWidget* openUpdateOutcome(ui::TAVSatelliteWindowPresenter& presenter, const UpdateOutcome& outcome,
                           UpdateActions actions) {
    const QString id = QString::fromLatin1(kUpdateWindowId);
    UpdateOutcomeView* view = nullptr;
    QWidget* window = presenter.present(id, QStringLiteral("%1 Update").arg(outcome.productName),
                                        QSize(460, 220), false, [&] {
                                            auto built = std::make_unique<UpdateOutcomeView>();
                                            view = built.get();
                                            return built;
                                        });
    if (!view) {
        view = window->findChild<UpdateOutcomeView*>(QStringLiteral("update-outcome"));
    }
    view->display(outcome, std::move(actions));
    return window;
}

void refreshUpdateOutcome(ui::TAVSatelliteWindowPresenter& presenter, const UpdateOutcome& outcome,
                          UpdateActions actions) {
    QWidget* window = presenter.window(QString::fromLatin1(kUpdateWindowId));
    auto* view =
        window ? window->findChild<UpdateOutcomeView*>(QStringLiteral("update-outcome")) : nullptr;
    if (view) {
        view->display(outcome, std::move(actions));
    }
}

}  // namespace halvo
