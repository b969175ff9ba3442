#include "services/about_support_windows.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/palette.h"
#include "ui/style.h"
#include "ui/window_presenter.h"

namespace halvo {
namespace {

// The about window's one sentence on where Halvo comes from.
constexpr char kOriginNote[] = "For when a port is taken and you just want it back.";

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// Opens `url` in the desktop's handler; a text that is not a URL opens nothing.
void openLink(const std::string& url) {
    const QUrl parsed(qs(url), QUrl::StrictMode);
    if (parsed.isValid() && !parsed.scheme().isEmpty()) {
        QDesktopServices::openUrl(parsed);
    }
}

// The application's own icon, named by its desktop file id: the icon theme's,
// else the one the package installs in hicolor (which a desktop without a
// theme does not search); none where it is not installed.
QLabel* appIcon(const TAVAppIdentity& identity, QWidget* parent) {
    constexpr int kSide = 64;
    auto* icon = new QLabel(parent);
    icon->setObjectName(QStringLiteral("appIcon"));
    const QString name = qs(identity.desktopFileId());
    const QIcon installed = QIcon::fromTheme(
        name, QIcon(QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                           "icons/hicolor/scalable/apps/" + name + ".svg")));
    icon->setPixmap(installed.pixmap(kSide, kSide));
    icon->setFixedSize(kSide, kSide);
    icon->setHidden(installed.isNull());
    return icon;
}

QWidget* linkRow(const TAVAppLinks& links, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    const std::pair<const char*, std::optional<std::string>> targets[] = {
        {"Website", links.websiteURL()},
        {"Privacy Policy", links.privacyURL()},
        {"Terms", links.termsURL()},
    };
    for (const auto& [title, url] : targets) {
        if (!url) {
            continue;
        }
        QPushButton* link = ui::linkButton(QString::fromUtf8(title), row);
        QObject::connect(link, &QPushButton::clicked, link, [target = *url] { openLink(target); });
        layout->addWidget(link);
    }
    layout->addStretch();
    return row;
}

class AboutView final : public QWidget {
  public:
    AboutView(const TAVAppIdentity& identity, const TAVAppDiagnostics& diagnostics,
              ui::TAVSatelliteWindowPresenter& presenter) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(28, 28, 28, 24);
        layout->setSpacing(6);

        const QString name = qs(identity.productDisplayName());
        auto* header = new QHBoxLayout;
        header->setSpacing(16);
        header->addWidget(appIcon(identity, this), 0, Qt::AlignTop);
        auto* titles = new QVBoxLayout;
        titles->setSpacing(2);
        titles->addWidget(ui::plainLabel(name,
                                         ui::textFont(ui::textSize::largeTitle, QFont::DemiBold),
                                         ui::palette::textPrimary, this, true));
        if (std::optional<std::string> version =
                aboutVersionLine(diagnostics.appVersion, diagnostics.buildNumber)) {
            titles->addWidget(ui::plainLabel(qs(*version), ui::textFont(ui::textSize::body),
                                             ui::palette::textSecondary, this, true));
        }
        titles->addStretch();
        header->addLayout(titles, 1);
        layout->addLayout(header);
        layout->addSpacing(12);

        QFont script(QStringLiteral("Dancing Script"));
        script.setPixelSize(ui::textSize::title);
        layout->addWidget(ui::plainLabel(QString::fromUtf8(kOriginNote), script,
                                         ui::palette::accentSecondary, this, true));
        layout->addWidget(ui::plainLabel(
            QStringLiteral("Made by %1").arg(qs(identity.branding().companyDisplayName)),
            ui::textFont(ui::textSize::caption), ui::palette::textSecondary, this, true));
        layout->addWidget(linkRow(identity.links(), this));
        layout->addSpacing(10);
        layout->addWidget(new TAVDiagnosticsView(diagnostics, presenter, this), 1);
    }
};

class SupportView final : public QWidget {
  public:
    SupportView(const TAVAppIdentity& identity, const TAVAppDiagnostics& diagnostics,
                ui::TAVSatelliteWindowPresenter& presenter) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(28, 24, 28, 20);
        layout->setSpacing(6);
        layout->addWidget(ui::plainLabel(QStringLiteral("Need help?"),
                                         ui::textFont(ui::textSize::title, QFont::DemiBold),
                                         ui::palette::textPrimary, this, true));
        layout->addWidget(ui::plainLabel(
            QStringLiteral("Read the guides, write to us, or send the diagnostics below."),
            ui::textFont(ui::textSize::body), ui::palette::textSecondary, this, true));
        layout->addSpacing(10);

        auto* grid = new QGridLayout;
        grid->setHorizontalSpacing(10);
        grid->setVerticalSpacing(6);
        const QString report = qs(TAVDiagnosticInfoBuilder::build(diagnostics));
        QPointer<ui::TAVSatelliteWindowPresenter> copier(&presenter);
        int index = 0;
        for (const TAVSupportAction& action : TAVSupportActions::forIdentity(identity)) {
            auto* button =
                new ui::TAVButton(qs(action.title), ui::TAVButton::Variant::secondary, this);
            button->setIcon(QIcon::fromTheme(qs(action.iconName)));
            button->setStyleSheet(QStringLiteral("text-align: left; padding-left: 12px;"));
            if (action.url) {
                connect(button, &QPushButton::clicked, this,
                        [url = *action.url] { openLink(url); });
            } else {
                connect(button, &QPushButton::clicked, this, [copier, report] {
                    if (copier) {
                        copier->copyDiagnostics(report);
                    }
                });
            }
            grid->addWidget(button, index / 2, index % 2);
            ++index;
        }
        layout->addLayout(grid);
        layout->addSpacing(14);
        layout->addWidget(new TAVDiagnosticsView(diagnostics, presenter, this), 1);
    }
};

}  // namespace

TAVDiagnosticsView::TAVDiagnosticsView(const TAVAppDiagnostics& diagnostics,
                                       ui::TAVSatelliteWindowPresenter& presenter, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* title = ui::plainLabel(QStringLiteral("Diagnostics"),
                                 ui::textFont(ui::textSize::caption, QFont::DemiBold),
                                 ui::palette::textSecondary, this, true);
    layout->addWidget(title);

    const QString report = qs(TAVDiagnosticInfoBuilder::build(diagnostics));
    auto* text = new QPlainTextEdit(report, this);
    text->setObjectName(QStringLiteral("diagnostics"));
    text->setReadOnly(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setFont(ui::monoFont(ui::textSize::report));
    text->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; color: %2;"
                                       " border: 1px solid %3; border-radius: 8px; padding: 6px; }")
                            .arg(QColor(ui::palette::panel2).name(),
                                 QColor(ui::palette::textPrimary).name(),
                                 QColor(ui::palette::line).name()));
    text->setAccessibleName(QStringLiteral("Diagnostics"));
    layout->addWidget(text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* copy = new ui::TAVButton(QStringLiteral("Copy Diagnostic Info"),
                                   ui::TAVButton::Variant::secondary, this);
    buttons->addWidget(copy);
    layout->addLayout(buttons);
    QPointer<ui::TAVSatelliteWindowPresenter> copier(&presenter);
    // The same report the view shows, rendered again as the copy is made.
    connect(copy, &QPushButton::clicked, this, [copier, diagnostics] {
        if (copier) {
            copier->copyDiagnostics(qs(TAVDiagnosticInfoBuilder::build(diagnostics)));
        }
    });
}

QWidget* openAbout(ui::TAVSatelliteWindowPresenter& presenter, const TAVAppIdentity& identity,
                   const TAVAppDiagnostics& diagnostics) {
    return presenter.present(
        QString::fromLatin1(kAboutWindowId),
        QStringLiteral("About %1").arg(qs(identity.productDisplayName())), QSize(480, 540), false,
        [&] { return std::make_unique<AboutView>(identity, diagnostics, presenter); });
}

QWidget* openSupport(ui::TAVSatelliteWindowPresenter& presenter, const TAVAppIdentity& identity,
                     const TAVAppDiagnostics& diagnostics) {
    return presenter.present(
        QString::fromLatin1(kSupportWindowId), QStringLiteral("Support"), QSize(540, 480), false,
        [&] { return std::make_unique<SupportView>(identity, diagnostics, presenter); });
}

}  // namespace halvo
