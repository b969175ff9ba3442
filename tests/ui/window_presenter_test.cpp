// The presenter keeps one window per identifier and forgets it on close; the
// "Copied" confirmation shows one at a time and goes away by itself.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPointer>
#include <QTest>

#include "ui/window_presenter.h"

using halvo::ui::TAVSatelliteWindowPresenter;

namespace {

int visibleWindowsNamed(const QString& name) {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        count += w->isVisible() && w->objectName() == name ? 1 : 0;
    }
    return count;
}

}  // namespace

class WindowPresenterTest : public QObject {
    Q_OBJECT

  private slots:
    // Every window the presenter opens deletes itself on close.
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            w->close();
        }
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void oneWindowPerIdentifierAndAFreshOneAfterClose() {
        TAVSatelliteWindowPresenter presenter;
        int built = 0;
        QPointer<QLabel> firstView;
        const auto content = [&] {
            ++built;
            auto view = std::make_unique<QLabel>(QStringLiteral("view"));
            if (!firstView) {
                firstView = view.get();
            }
            return view;
        };
        QWidget* window = presenter.present("a", "A", QSize(300, 200), true, content);
        window->resize(400, 260);
        QCOMPARE(presenter.present("a", "A", QSize(300, 200), true, content), window);
        QCOMPARE(built, 1);
        QCOMPARE(window->size(), QSize(400, 260));  // kept when brought forward
        QCOMPARE(window->minimumSize(), QSize(300, 200));
        QVERIFY(presenter.present("b", "B", QSize(300, 200), false, content) != window);
        QCOMPARE(built, 2);

        window->close();
        QCOMPARE(presenter.window("a"), nullptr);
        QTRY_VERIFY(firstView.isNull());
        QWidget* fresh = presenter.present("a", "A", QSize(300, 200), true, content);
        QCOMPARE(built, 3);
        QCOMPARE(presenter.window("a"), fresh);
        QVERIFY(fresh->isVisible());
    }

    void copiedShowsOneConfirmationAtATime() {
        TAVSatelliteWindowPresenter presenter;
        QVERIFY(presenter.copyDiagnostics("first report"));
        QVERIFY(presenter.copyDiagnostics("second report"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("second report"));
        QTRY_COMPARE(visibleWindowsNamed("halvo.copied"), 1);
        QWidget* hud = presenter.hudWindow();
        QVERIFY(hud->testAttribute(Qt::WA_ShowWithoutActivating));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindowsNamed("halvo.copied"), 0,
                                  TAVSatelliteWindowPresenter::kHudMilliseconds * 3);
    }
};

QTEST_MAIN(WindowPresenterTest)
#include "window_presenter_test.moc"
