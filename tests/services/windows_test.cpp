// The about and support windows, offscreen.
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "appkit/diagnostics.h"
#include "services/about_support_windows.h"
#include "test_doubles.h"
#include "ui/window_presenter.h"

namespace halvo {
namespace {

QPushButton* button(QWidget* window, const QString& text) {
    for (QPushButton* candidate : window->findChildren<QPushButton*>()) {
        if (candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}

TAVAppDiagnostics halvoDiagnostics() {
    return TAVAppDiagnostics::current(appIdentity(), std::nullopt,
                                      "https://tavlabs.com/downloads/halvo/appcast.xml");
}

}  // namespace

class WindowsTest final : public QObject {
    Q_OBJECT
  private slots:
    void aboutOpensOnceAndCopiesItsReport() {
        ui::TAVSatelliteWindowPresenter presenter;
        QWidget* about = openAbout(presenter, appIdentity(), halvoDiagnostics());
        QCOMPARE(openAbout(presenter, appIdentity(), halvoDiagnostics()), about);
        QCOMPARE(about->windowTitle(), QStringLiteral("About Halvo"));
        QCOMPARE(about->size(), QSize(480, 540));
        QCOMPARE(about->maximumSize(), QSize(480, 540));

        const QString report =
            QString::fromStdString(TAVDiagnosticInfoBuilder::build(halvoDiagnostics()));
        QCOMPARE(about->findChild<QPlainTextEdit*>("diagnostics")->toPlainText(), report);
        QGuiApplication::clipboard()->clear();
        button(about, QStringLiteral("Copy Diagnostic Info"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), report);
        QVERIFY(presenter.hudWindow() != nullptr);
        about->close();
        delete presenter.hudWindow();
    }

    void supportActionsOpenTheirTargets() {
        ui::TAVSatelliteWindowPresenter presenter;
        OpenedUrls opened;
        QWidget* support = openSupport(presenter, appIdentity(), halvoDiagnostics());
        QCOMPARE(support->windowTitle(), QStringLiteral("Support"));
        QCOMPARE(support->size(), QSize(540, 480));
        for (const char* title : {"Contact", "Open Documentation", "Terms"}) {
            button(support, QString::fromLatin1(title))->click();
        }
        QCOMPARE(opened.urls, (QList<QUrl>{QUrl("mailto:support@tavlabs.com"),
                                           QUrl("https://tavlabs.com/products/halvo/docs"),
                                           QUrl("https://tavlabs.com/terms")}));
        support->close();
    }
};

}  // namespace halvo

QTEST_MAIN(halvo::WindowsTest)
#include "windows_test.moc"
