// The kill panel over a real store whose scanner and kill engine the test
// answers: what the list and its empty state say, ticks, keys and clicks,
// hostile text, the coordinator's window, and a container's slow stop.
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "kill/recent_kills.h"
#include "panel/halvo_kill_coordinator.h"
#include "panel/kill_panel_model.h"
#include "panel/kill_panel_view.h"
#include "state/process_store.h"
#include "support/fixtures.h"
#include "support/scripted_fakes.h"
#include "ui/controls.h"

using namespace halvo;
using halvo::testing::row;
using halvo::testing::rows;
using halvo::testing::ScriptedKillEngine;
using halvo::testing::ScriptedScanner;

namespace {

// A shown panel over a store whose scans return `scanned`, and listeners the
// user cannot end on ports 5432, 6379 and 8080, and a hidden one of theirs on 6380.
struct Panel {
    std::shared_ptr<ScriptedScanner> scanner = std::make_shared<ScriptedScanner>();
    std::shared_ptr<ScriptedKillEngine> engine = std::make_shared<ScriptedKillEngine>();
    ProcessStore store{scanner, engine};
    InMemoryDefaultsStore defaults;
    int closes = 0;
    HalvoKillPanelView view{store, defaults, [this] { ++closes; }};

    explicit Panel(const std::vector<PortProcess>& scanned) {
        scanner->scans.answerEvery(scanned);
        scanner->setUnlisted(
            {{5432, 105, "postgres"}, {6379, 106, "mysql"}, {8080, 107, "www-data"}},
            {{812, "redis-server", 6380}});
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
    // The empty state's title, and for a port query that matches none of the
    // user's rows whoever holds the port, the user's own hidden listeners
    // first, in two lines at most; text queries name no one.
    void emptyState_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("emptyTitle");
        QTest::addColumn<QString>("body");
        const QString noMatch = QStringLiteral("No matching ports.");
        QTest::newRow("rows") << 3 << QString() << QString() << QString();
        QTest::newRow("nothing listening")
            << 0 << QString() << QStringLiteral("Nothing listening right now.") << QString();
        QTest::newRow("spaces are a query") << 0 << QStringLiteral("  ") << noMatch << QString();
        QTest::newRow("text") << 3 << QStringLiteral("postgres") << noMatch << QString();
        QTest::newRow("a free port") << 3 << QStringLiteral("5433") << noMatch << QString();
        QTest::newRow("yours first, more ports than lines")
            << 3 << QStringLiteral("4000-9999") << noMatch
            << QStringLiteral(
                   "Port 6380 is held by your redis-server (PID 812), not a development "
                   "server\nand 3 more ports Halvo cannot end");
    }
    void emptyState() {
        QFETCH(int, count);
        QFETCH(QString, query);
        QFETCH(QString, emptyTitle);
        QFETCH(QString, body);
        Panel p(rows(count));
        QTRY_COMPARE(p.store.foreignListeners().size(), size_t{3});
        QVERIFY(p.loaded(count));
        QTest::keyClicks(p.search(), query);
        QTRY_COMPARE(p.emptyTitle(), emptyTitle);
        QCOMPARE(p.killButton()->isEnabled(), emptyTitle.isEmpty());
        QCOMPARE(p.find<ui::TAVEmptyState>("emptyState")->body(), body);
    }

    // Arrow keys in the search field move the store's selection, wrapping;
    // ticks leave it, outlive the query, and Return kills them, not the
    // selection; a stale kill is not recorded and the panel stays open; a
    // double click kills its row alone.
    void keysTicksAndReturn() {
        Panel p(rows(3));
        QVERIFY(p.loaded(3));
        const std::pair<Qt::Key, int> keys[] = {
            {Qt::Key_Up, 2}, {Qt::Key_Down, 0}, {Qt::Key_Up, 2}, {Qt::Key_Left, 2}};
        for (const auto& [key, selected] : keys) {
            QTest::keyClick(p.search(), key);
            QCOMPARE(p.store.selectedIndex(), selected);
            const QModelIndex cell = p.table()->model()->index(selected, 1);
            QVERIFY(cell.data(KillPanelModel::kSelectedRole).toBool());
        }
        QVERIFY(p.search()->hasFocus());
        p.click(0, KillPanelModel::tick);
        p.click(1, KillPanelModel::tick);
        QCOMPARE(p.store.selectedIndex(), 2);
        QTest::keyClicks(p.search(), "3002");
        QVERIFY(p.loaded(1));
        QCOMPARE(p.killButton()->text(), QStringLiteral("Kill Selected (2)"));

        p.engine->kills.answerEvery(KillOutcome::killed());
        QTest::keyClick(p.search(), Qt::Key_Return);
        QTRY_COMPARE(p.killButton()->text(), QStringLiteral("Kill selected"));
        QCOMPARE(p.engine->kills.callCount(), size_t(2));
        QCOMPARE(p.engine->kills.calls()[1].pid, 101);
        QCOMPARE(p.store.feedbackText(), QStringLiteral("Killed 2 ports"));
        QVERIFY(p.killButton()->isEnabled());  // port 3002 is left to select

        p.engine->kills.answerEvery(KillOutcome::stale());
        QTest::keyClick(p.search(), Qt::Key_Return);
        QTRY_COMPARE(p.engine->kills.callCount(), size_t(3));
        QTRY_VERIFY(p.store.feedbackText() != QStringLiteral("Killed 2 ports"));
        QCOMPARE(p.engine->kills.calls()[2].pid, 102);
        QCOMPARE(p.closes, 0);
        QCOMPARE(loadRecentKills(p.defaults).size(), size_t(2));

        // A double click kills only its row, ticks or not, and closes the panel.
        p.store.setQuery({});
        QVERIFY(p.loaded(3));
        p.click(0, KillPanelModel::tick);
        p.engine->kills.answerEvery(KillOutcome::killed());
        // Through the window, so that Qt itself turns two clicks into a double click.
        const QPoint at = p.table()->viewport()->mapTo(&p.view, p.cell(2, 2));
        QTest::mouseDClick(p.view.windowHandle(), Qt::LeftButton, {}, at);
        QTRY_COMPARE(p.closes, 1);
        QCOMPARE(p.engine->kills.callCount(), size_t(4));
        QCOMPARE(loadRecentKills(p.defaults)[0].pidName, std::string("node PID 102"));
    }

    // Hostile text, and a container row, which has no PID.
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
        blank.supervisor = Supervisor{{}, "web.service"};
        Panel p({escapes, broken, blank, testing::containerRow(8080, "web-1")});
        QVERIFY(p.loaded(4));
        p.store.setFeedback(feedback::Failure{huge + "\x1b[2J"});
        QTRY_COMPARE(p.find<ui::ElidedLabel>("feedback")->text().size(), 512);
        QAbstractItemModel* model = p.table()->model();
        for (int r = 0; r < 4; ++r) {
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
        // Blank texts show a dash; a project root is shown, never read as markup.
        const QModelIndex project = model->index(2, KillPanelModel::project);
        QCOMPARE(
            model->index(2, KillPanelModel::path).data().toString() + project.data().toString(),
            QStringLiteral("\u2014\u2014"));
        QCOMPARE(project.data(Qt::ToolTipRole).toString(),
                 "<p style='white-space:pre'>/srv/&lt;b&gt;a&lt;/b&gt; &amp;amp; b</p>");
        QVERIFY(p.view.minimumSizeHint().width() <= 720);
        QCOMPARE(p.view.width(), 720);
        // A container or a unit is stopped, not killed, and the button says so.
        p.store.setSelectedIndex(3);
        QTRY_COMPARE(p.killButton()->text(), QStringLiteral("Stop container"));
        p.store.setSelectedIndex(2);
        QTRY_COMPARE(p.killButton()->text(), QStringLiteral("Stop unit web.service"));
    }

    // A row's menu puts its port on the leave-alone list: the row goes, a
    // batch it was ticked in passes it by, and a query for its port says why
    // it is not listed.
    void leaveAloneFromTheRowMenu() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        Panel p(rows(3));
        QVERIFY(p.loaded(3));
        p.click(0, KillPanelModel::tick);
        p.click(1, KillPanelModel::tick);
        const QPoint at = p.cell(1, KillPanelModel::port);
        QContextMenuEvent menuAt(QContextMenuEvent::Mouse, at,
                                 p.table()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(p.table()->viewport(), &menuAt);
        auto* menu = p.find<QMenu>("rowMenu");
        QVERIFY(menu);
        menu->actions().at(0)->trigger();
        QVERIFY(p.loaded(2));
        QFile list(config.path() + "/halvo/leave-alone");
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), QByteArray("3001\n"));

        p.engine->kills.answerEvery(KillOutcome::killed());
        QTest::keyClick(p.search(), Qt::Key_Return);
        QTRY_VERIFY(!p.store.feedbackText().isEmpty());
        QCOMPARE(p.engine->kills.callCount(), size_t(1));
        QCOMPARE(p.engine->kills.calls()[0].pid, 100);
        QTest::keyClicks(p.search(), "3001");
        QTRY_COMPARE(p.find<ui::TAVEmptyState>("emptyState")->body(),
                     QStringLiteral("Port 3001 is held by your node (PID 101), on your "
                                    "leave-alone list"));
        qunsetenv("XDG_CONFIG_HOME");
    }

    // The coordinator's panel: one window, which keeps the size the user gave
    // it while open. Closed, it is hidden, the store forgets the query and the
    // rows, and a container's stop runs on: it takes seconds, says so, and
    // the panel answers keys meanwhile. Opened again at its default size, it
    // shows none of the rows it had, though a scan for the menu refilled the
    // store, but a scanning state until its own scan is in; then the stop's
    // outcome, recorded, which does not close this opening.
    void coordinatorsPanel() {
        auto scanner = std::make_shared<ScriptedScanner>();
        scanner->scans.answer(0, {row(1, 3000), testing::containerRow(8080, "web-1")});
        auto stopper = std::make_shared<testing::ScriptedContainerStopper>();
        ProcessStore store(scanner, std::make_shared<ScriptedKillEngine>(), stopper);
        auto defaults = std::make_shared<InMemoryDefaultsStore>();
        auto& coordinator = HalvoKillCoordinator::shared();
        coordinator.setStore(&store, defaults);
        coordinator.showPanel();
        const QPointer<QWidget> window = coordinator.panel();
        window->resize(800, 600);
        coordinator.showPanel();
        QCOMPARE(window->size(), QSize(800, 600));
        auto* table = window->findChild<QTableView*>("table");
        auto* search = window->findChild<QLineEdit*>("search");
        auto* kill = window->findChild<QPushButton*>("kill");
        auto* footer = window->findChild<ui::ElidedLabel*>("feedback");
        QTRY_COMPARE(table->model()->rowCount(), 2);
        QApplication::setActiveWindow(window);
        QTest::keyClick(search, Qt::Key_Down);
        QTest::keyClick(search, Qt::Key_Return);
        const QString stopping = QStringLiteral("Stopping container web-1\u2026");
        QTRY_COMPARE(footer->text(), stopping);
        QCOMPARE(kill->text() + QString::number(kill->isEnabled()),
                 QStringLiteral("Stopping\u20260"));
        QTest::keyClick(search, Qt::Key_Up);
        QCOMPARE(kill->text() + QString::number(kill->isEnabled()),
                 QStringLiteral("Kill selected1"));
        store.setQuery(QStringLiteral("3000"));
        QTest::keyClick(search, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QVERIFY(store.processes().empty());
        QVERIFY(store.query().isEmpty());

        scanner->scans.answer(1, rows(3));
        store.refresh();
        QTRY_COMPARE(store.processes().size(), size_t(3));
        coordinator.showPanel();
        QCOMPARE(window->size(), HalvoKillCoordinator::kPanelSize);
        QCOMPARE(table->model()->rowCount(), 0);
        QCOMPARE(window->findChild<ui::TAVEmptyState*>("emptyState")->title(),
                 QStringLiteral("Looking for listening ports\u2026"));
        QCOMPARE(footer->text(), stopping);
        scanner->scans.answerEvery(rows(1));
        QTRY_COMPARE(table->model()->rowCount(), 1);
        stopper->stops.answer(0, KillOutcome::killed());
        QTRY_COMPARE(footer->text(), QStringLiteral("Stopped container web-1 (:8080)"));
        QCOMPARE(loadRecentKills(*defaults).size(), size_t(1));
        QVERIFY(window->isVisible());
        coordinator.setStore(nullptr, nullptr);
        QVERIFY(window.isNull());
    }
};

QTEST_MAIN(KillPanelTest)
#include "kill_panel_test.moc"
