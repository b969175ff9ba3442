// The kill panel over a real store whose scanner and kill engine the test
// answers: what the list and its empty state say, ticks, keys and clicks,
// hostile text, and the coordinator's window.
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include "kill/recent_kills.h"
#include "panel/halvo_kill_coordinator.h"
#include "panel/kill_panel_model.h"
#include "panel/kill_panel_view.h"
#include "state/process_store.h"
#include "support/fixtures.h"
#include "support/scripted_fakes.h"
#include "ui/controls.h"
#include "ui/window_presenter.h"

using namespace halvo;
using halvo::testing::row;
using halvo::testing::rows;
using halvo::testing::ScriptedKillEngine;
using halvo::testing::ScriptedScanner;

namespace {

// A shown panel over a store whose scans return `scanned`.
struct Panel {
    std::shared_ptr<ScriptedScanner> scanner = std::make_shared<ScriptedScanner>();
    std::shared_ptr<ScriptedKillEngine> engine = std::make_shared<ScriptedKillEngine>();
    ProcessStore store{scanner, engine};
    InMemoryDefaultsStore defaults;
    int closes = 0;
    HalvoKillPanelView view{store, defaults, [this] { ++closes; }};

    explicit Panel(const std::vector<PortProcess>& scanned) {
        scanner->scans.answerEvery(scanned);
        view.resize(720, 500);
        view.show();
        QApplication::setActiveWindow(&view);
    }
    bool loaded(size_t count) {
        return QTest::qWaitFor([&] { return table()->model()->rowCount() == int(count); });
    }
    template <class W>
    W* find(const char* name) {
        return view.findChild<W*>(QString::fromLatin1(name));
    }
    QTableView* table() { return find<QTableView>("table"); }
    QLineEdit* search() { return find<QLineEdit>("search"); }
    QPushButton* killButton() { return find<QPushButton>("kill"); }
    QString emptyTitle() {
        auto* empty = find<ui::TAVEmptyState>("emptyState");
        return empty->isVisible() ? empty->title() : QString();
    }
    QPoint cell(int r, int column) {
        return table()->visualRect(table()->model()->index(r, column)).center();
    }
    void click(int r, int column) {
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell(r, column));
    }
};

}  // namespace

class KillPanelTest : public QObject {
    Q_OBJECT

  private slots:
    void listAndEmptyState_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("emptyTitle");
        const QString noMatch = QStringLiteral("No matching ports.");
        QTest::newRow("3 rows, no scrolling") << 3 << QString() << QString();
        QTest::newRow("20 rows, scrolls") << 20 << QString() << QString();
        QTest::newRow("query matches nothing") << 3 << QStringLiteral("zzz") << noMatch;
        QTest::newRow("spaces are a query") << 0 << QStringLiteral("  ") << noMatch;
        QTest::newRow("nothing listening")
            << 0 << QString() << QStringLiteral("Nothing listening right now.");
    }
    void listAndEmptyState() {
        QFETCH(int, count);
        QFETCH(QString, query);
        QFETCH(QString, emptyTitle);
        Panel p(rows(count));
        QVERIFY(p.loaded(count));
        QTest::keyClicks(p.search(), query);
        QTRY_COMPARE(p.emptyTitle(), emptyTitle);
        QCOMPARE(p.table()->verticalScrollBar()->maximum() > 0, count > 8);
        QCOMPARE(p.killButton()->isEnabled(), emptyTitle.isEmpty());
    }

    // A port query that matches none of the user's rows names whoever holds
    // the port, the user's own hidden listeners first, in lines that fit
    // under the title; text queries name no one.
    void emptyStateNamesWhoHoldsAQueriedPort_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("body");
        const QString others = QStringLiteral("; Halvo can only end your own processes");
        const QString name(32, QLatin1Char('w'));  // the longest login name
        const QString postgres = QStringLiteral("Port 5432 is held by user postgres") + others;
        QTest::newRow("one port") << QStringLiteral("5432") << postgres;
        QTest::newRow("two ports") << QStringLiteral("5432,6000-6379")
                                   << postgres + "\nPort 6379 is held by user " + name + others;
        QTest::newRow("yours first, more ports than lines")
            << QStringLiteral("4000-9999")
            << QStringLiteral(
                   "Port 6380 is held by your redis-server (PID 812), not a development "
                   "server\nand 3 more ports Halvo cannot end");
        QTest::newRow("a free port") << QStringLiteral("5433") << QString();
        QTest::newRow("text") << QStringLiteral("postgres") << QString();
    }
    void emptyStateNamesWhoHoldsAQueriedPort() {
        QFETCH(QString, query);
        QFETCH(QString, body);
        Panel p(rows(3));
        p.scanner->setUnlisted(
            {{5432, 105, "postgres"}, {6379, 106, std::string(32, 'w')}, {8080, 107, "www-data"}},
            {{812, "redis-server", 6380}});
        p.store.refresh();
        QTRY_COMPARE(p.store.foreignListeners().size(), size_t{3});
        QVERIFY(p.loaded(3));
        QTest::keyClicks(p.search(), query);
        QTRY_COMPARE(p.emptyTitle(), QStringLiteral("No matching ports."));
        auto* empty = p.find<ui::TAVEmptyState>("emptyState");
        QCOMPARE(empty->body(), body);
        // Every line wrapped inside the empty state, none cut off at its foot.
        auto* label = empty->findChild<QLabel*>(QStringLiteral("body"));
        QCOMPARE(label->isVisible(), !body.isEmpty());
        if (!body.isEmpty()) {
            QVERIFY(label->height() >= label->heightForWidth(label->width()));
            QVERIFY(label->geometry().bottom() < empty->height());
        }
    }

    // Ticks hidden by the query still count, and Return kills them, not the selection.
    void ticksOutliveTheQueryAndAreKilledTogether() {
        Panel p(rows(3));
        QVERIFY(p.loaded(3));
        p.click(0, KillPanelModel::tick);
        p.click(1, KillPanelModel::tick);
        QCOMPARE(p.store.selectedIndex(), 0);  // ticking does not move the selection
        QTest::keyClicks(p.search(), "3002");
        QVERIFY(p.loaded(1));
        QCOMPARE(p.killButton()->text(), QStringLiteral("Kill Selected (2)"));

        p.engine->kills.answerEvery(KillOutcome::killed());
        QTest::keyClick(p.search(), Qt::Key_Return);
        QTRY_COMPARE(p.killButton()->text(), QStringLiteral("Kill selected"));
        QCOMPARE(p.engine->kills.callCount(), size_t(2));
        QCOMPARE(p.engine->kills.calls()[1].pid, 101);
        QCOMPARE(loadRecentKills(p.defaults).size(), size_t(2));
        QCOMPARE(p.closes, 0);
        QCOMPARE(p.store.feedbackText(), QStringLiteral("Killed 2 ports"));
        QVERIFY(p.killButton()->isEnabled());  // port 3002 is left to select
    }

    void doubleClickKillsOnlyItsRow() {
        Panel p(rows(3));
        QVERIFY(p.loaded(3));
        p.click(0, KillPanelModel::tick);
        p.click(1, KillPanelModel::tick);
        p.engine->kills.answerEvery(KillOutcome::killed());
        // Through the window, so that Qt itself turns two clicks into a double click.
        const QPoint at = p.table()->viewport()->mapTo(&p.view, p.cell(2, 2));
        QTest::mouseDClick(p.view.windowHandle(), Qt::LeftButton, {}, at);
        QTRY_COMPARE(p.closes, 1);
        QCOMPARE(p.engine->kills.callCount(), size_t(1));
        QCOMPARE(p.engine->kills.calls()[0].pid, 102);
        const auto recent = loadRecentKills(p.defaults);
        QCOMPARE(recent.size(), size_t(1));
        QCOMPARE(recent[0].pidName, std::string("node PID 102"));
    }

    void aStaleKillIsNotRecordedAndStaysOpen() {
        Panel p({row(1, 3000)});
        QVERIFY(p.loaded(1));
        p.engine->kills.answerEvery(KillOutcome::stale());
        QTest::keyClick(p.search(), Qt::Key_Return);
        QTRY_VERIFY(!p.store.feedbackText().isEmpty());
        QCOMPARE(p.closes, 0);
        QVERIFY(loadRecentKills(p.defaults).empty());
    }

    void arrowKeysMoveTheStoreSelection_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("selected");
        QTest::newRow("up from the first row wraps") << int(Qt::Key_Up) << 2;
        QTest::newRow("down") << int(Qt::Key_Down) << 1;
        QTest::newRow("left does nothing") << int(Qt::Key_Left) << 0;
    }
    void arrowKeysMoveTheStoreSelection() {
        QFETCH(int, key);
        QFETCH(int, selected);
        Panel p(rows(3));
        QVERIFY(p.loaded(3));
        QTest::keyClick(p.search(), Qt::Key(key));
        QCOMPARE(p.store.selectedIndex(), selected);
        QVERIFY(
            p.table()->model()->index(selected, 1).data(KillPanelModel::kSelectedRole).toBool());
        QVERIFY(p.search()->hasFocus());
    }

    // A container row has no PID, shows its command and is stopped, not killed.
    void aContainerRowSaysStopContainer() {
        Panel p({row(100, 3000), testing::containerRow(8080, "web-1")});
        QVERIFY(p.loaded(2));
        QCOMPARE(p.killButton()->text(), QStringLiteral("Kill selected"));
        p.store.setSelectedIndex(1);
        QTRY_COMPARE(p.killButton()->text(), QStringLiteral("Stop container"));
        const auto text = [&](int column, int role = Qt::DisplayRole) {
            return p.table()->model()->index(1, column).data(role).toString();
        };
        QCOMPARE(text(KillPanelModel::pid), QStringLiteral("\u2014"));
        QCOMPARE(text(KillPanelModel::path), QStringLiteral("postgres"));
        QVERIFY(text(KillPanelModel::process, Qt::AccessibleTextRole).endsWith("container web-1"));
    }

    void hostileTextStaysInertAndNeverStretchesTheWindow() {
        const std::string huge(100 * 1024, 'x');
        PortProcess escapes = row(1, 3000, "\x1b[31mred\x1b]0;title\x07");
        escapes.executablePath = "/srv/\u202Eexe.txt";
        escapes.projectHint = huge;
        PortProcess broken = row(2, 3001, "bad\xff\xfeutf8\n<b>x</b>");
        broken.executablePath = huge;
        PortProcess blank = row(3, 3002);
        blank.executablePath = " \t";
        blank.projectHint = " \n";
        blank.projectRoot = "/srv/<b>a</b> &amp; b\n";
        Panel p({escapes, broken, blank});
        QVERIFY(p.loaded(3));
        p.store.setFeedback(feedback::Failure{huge + "\x1b[2J"});
        QTRY_COMPARE(p.find<ui::ElidedLabel>("feedback")->text().size(), 512);
        QAbstractItemModel* model = p.table()->model();
        for (int r = 0; r < 3; ++r) {
            for (int column = 0; column < model->columnCount(); ++column) {
                for (int role : {int(Qt::DisplayRole), int(Qt::AccessibleTextRole)}) {
                    const QString text = model->index(r, column).data(role).toString();
                    QVERIFY(text.size() <= 600);
                    for (QChar c : text) {
                        QVERIFY2(c >= u' ' && c.direction() != QChar::DirRLO, qPrintable(text));
                    }
                }
            }
        }
        QCOMPARE(model->index(1, KillPanelModel::process).data().toString(),
                 QStringLiteral("bad\uFFFD\uFFFDutf8\uFFFD<b>x</b>"));
        // Blank texts show a dash; a project root is shown, never read as markup.
        const QModelIndex project = model->index(2, KillPanelModel::project);
        QCOMPARE(
            model->index(2, KillPanelModel::path).data().toString() + project.data().toString(),
            QStringLiteral("\u2014\u2014"));
        QCOMPARE(project.data(Qt::ToolTipRole).toString(),
                 "<p style='white-space:pre'>/srv/&lt;b&gt;a&lt;/b&gt; &amp;amp; b</p>");
        QVERIFY(p.view.minimumSizeHint().width() <= 720);
        QCOMPARE(p.view.width(), 720);
    }

    // The coordinator's panel forgets the query and the rows when it closes.
    void coordinatorResetsTheStoreOnClose() {
        auto scanner = std::make_shared<ScriptedScanner>();
        scanner->scans.answerEvery(rows(2));
        ProcessStore store(scanner, std::make_shared<ScriptedKillEngine>());
        auto& coordinator = HalvoKillCoordinator::shared();
        coordinator.setStore(&store, std::make_shared<InMemoryDefaultsStore>());
        coordinator.showPanel();
        auto& presenter = ui::TAVSatelliteWindowPresenter::shared();
        QWidget* window = presenter.window(HalvoKillCoordinator::kPanelId);
        QTRY_COMPARE(store.processes().size(), size_t(2));
        store.setQuery(QStringLiteral("3001"));
        QApplication::setActiveWindow(window);
        QTest::keyClick(window->findChild<QLineEdit*>("search"), Qt::Key_Escape);
        QCOMPARE(presenter.window(HalvoKillCoordinator::kPanelId), nullptr);
        QVERIFY(store.processes().empty());
        QVERIFY(store.query().isEmpty());
        coordinator.setStore(nullptr, nullptr);
    }
};

QTEST_MAIN(KillPanelTest)
#include "kill_panel_test.moc"
