// The kill panel over a real store whose scanner and kill engine the test
// answers: list sizes, texts and states, ticks, keys and clicks, and the
// coordinator's window.
#include <QAbstractItemView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QThreadPool>

#include "kill/recent_kills.h"
#include "panel/halvo_kill_coordinator.h"
#include "panel/kill_panel_model.h"
#include "panel/kill_panel_view.h"
#include "panel/port_reference_popover.h"
#include "state/process_store.h"
#include "support/scripted_fakes.h"
#include "ui/controls.h"
#include "ui/window_presenter.h"

using namespace halvo;
using halvo::testing::ScriptedKillEngine;
using halvo::testing::ScriptedScanner;
using Rows = std::vector<PortProcess>;

namespace {

PortProcess row(int32_t pid, int64_t port, std::string name = "node",
                std::string path = "/usr/bin/node", std::string project = "shop") {
    PortProcess p;
    p.pid = pid;
    p.port = port;
    p.startTime = {1000, 0};
    p.executableName = std::move(name);
    p.executablePath = std::move(path);
    if (!project.empty()) {
        p.projectHint = std::move(project);
    }
    return p;
}

Rows rows(int count) {
    Rows r;
    for (int i = 0; i < count; ++i) {
        r.push_back(row(100 + i, 3000 + i));
    }
    return r;
}

// A shown panel over a store whose scans return `scanned`.
struct Panel {
    std::shared_ptr<ScriptedScanner> scanner = std::make_shared<ScriptedScanner>();
    std::shared_ptr<ScriptedKillEngine> engine = std::make_shared<ScriptedKillEngine>();
    ProcessStore store{scanner, engine};
    InMemoryDefaultsStore defaults;
    int closes = 0;
    HalvoKillPanelView view{store, defaults, [this] { ++closes; }};

    explicit Panel(const Rows& scanned) {
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
    void initTestCase() {
        QThreadPool::globalInstance()->setMaxThreadCount(
            std::max(8, QThreadPool::globalInstance()->maxThreadCount()));
    }

    void listArea_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("emptyTitle");
        QTest::newRow("3 rows, no scrolling") << 3 << "" << 172 << "";
        QTest::newRow("20 rows, scrolls") << 20 << "" << 412 << "";
        QTest::newRow("query matches nothing") << 3 << "zzz" << 188 << "No matching ports.";
        QTest::newRow("spaces are a query") << 0 << "  " << 188 << "No matching ports.";
        QTest::newRow("nothing listening") << 0 << "" << 188 << "Nothing listening right now.";
    }
    void listArea() {
        QFETCH(int, count);
        QFETCH(QString, query);
        QFETCH(int, height);
        QFETCH(QString, emptyTitle);
        Panel p(rows(count));
        QVERIFY(p.loaded(count));
        QTest::keyClicks(p.search(), query);
        auto* empty = p.find<ui::TAVEmptyState>("emptyState");
        QTRY_COMPARE(empty->isVisible() ? empty->title() : QString(), emptyTitle);
        QCOMPARE(p.find<QWidget>("list")->height(), height);
        QCOMPARE(p.table()->verticalScrollBar()->maximum() > 0, count > 8);
    }

    // A port query that matches none of the user's rows names whoever holds
    // the port, the user's own hidden listeners first, in lines that fit
    // under the title; text queries name no one.
    void emptyStateNamesWhoHoldsAQueriedPort_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("body");
        const QString name(32, QLatin1Char('w'));  // the longest login name
        QTest::newRow("one port")
            << "5432"
            << "Port 5432 is held by user postgres; Halvo can only end your own processes";
        QTest::newRow("two ports") << "5432,6000-6379"
                                   << "Port 5432 is held by user postgres; Halvo can only end your "
                                      "own processes\nPort 6379 is held by user " +
                                          name + "; Halvo can only end your own processes";
        QTest::newRow("yours first, more ports than lines")
            << "4000-9999"
            << "Port 6380 is held by your redis-server (PID 812), not a development server\nand 3 "
               "more ports Halvo cannot end";
        QTest::newRow("a free port") << "5433"
                                     << "";
        QTest::newRow("text") << "postgres"
                              << "";
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
        auto* empty = p.find<ui::TAVEmptyState>("emptyState");
        QTRY_COMPARE(empty->isVisible() ? empty->title() : QString(),
                     QStringLiteral("No matching ports."));
        QCOMPARE(empty->body(), body);
        // Every line wrapped inside the empty state, none cut off at its foot.
        auto* label = empty->findChild<QLabel*>(QStringLiteral("body"));
        QCOMPARE(label->isVisible(), !body.isEmpty());
        if (!body.isEmpty()) {
            QVERIFY(label->height() >= label->heightForWidth(label->width()));
            QVERIFY(label->geometry().bottom() < empty->height());
        }
    }

    void killButtonCountsTicksAndKillsThem_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("enabledAfter");
        QTest::newRow("a row is left to select") << 3 << true;
        QTest::newRow("nothing left") << 2 << false;
    }
    void killButtonCountsTicksAndKillsThem() {
        QFETCH(int, count);
        QFETCH(bool, enabledAfter);
        Panel p(rows(count));
        QVERIFY(p.loaded(count));
        QCOMPARE(p.killButton()->text(), QStringLiteral("Kill selected"));
        p.click(0, KillPanelModel::tick);
        p.click(1, KillPanelModel::tick);
        QCOMPARE(p.killButton()->text(), QStringLiteral("Kill Selected (2)"));
        QCOMPARE(p.store.selectedIndex(), 0);  // ticking does not move the selection

        p.engine->kills.answerEvery(KillOutcome::killed());
        QTest::mouseClick(p.killButton(), Qt::LeftButton);
        QTRY_COMPARE(p.killButton()->text(), QStringLiteral("Kill selected"));
        QTRY_COMPARE(p.killButton()->isEnabled(), enabledAfter);
        QCOMPARE(p.engine->kills.callCount(), size_t(2));
        QCOMPARE(loadRecentKills(p.defaults).size(), size_t(2));
        QCOMPARE(p.closes, 0);
        QCOMPARE(p.store.feedbackText(), QStringLiteral("Killed 2 ports"));
    }

    void aTickHiddenByTheQueryIsCountedAndKilled() {
        Panel p({row(1, 3000), row(2, 5173), row(3, 8080)});
        QVERIFY(p.loaded(3));
        p.click(0, KillPanelModel::tick);
        QTest::keyClicks(p.search(), "5173");
        QVERIFY(p.loaded(1));
        QCOMPARE(p.killButton()->text(), QStringLiteral("Kill Selected (1)"));
        p.engine->kills.answerEvery(KillOutcome::killed());
        QTest::keyClick(p.search(), Qt::Key_Return);
        QTRY_COMPARE(p.store.processes().size(), size_t(2));
        QCOMPARE(p.engine->kills.callCount(), size_t(1));
        QCOMPARE(p.engine->kills.calls()[0].pid, 1);
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

    void arrowKeysMoveTheStoreSelection_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("selected");
        QTest::newRow("up from the first row wraps") << int(Qt::Key_Up) << 2;
        QTest::newRow("down") << int(Qt::Key_Down) << 1;
        QTest::newRow("left does nothing") << int(Qt::Key_Left) << 0;
        QTest::newRow("right does nothing") << int(Qt::Key_Right) << 0;
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

    void aStaleKillShowsWhyAndStaysOpen() {
        Panel p({row(1, 3000)});
        QVERIFY(p.loaded(1));
        p.engine->kills.answerEvery(KillOutcome::stale());
        QTest::keyClick(p.search(), Qt::Key_Return);
        const QString stale =
            QStringLiteral("Process on :3000 changed since last scan \u2014 list refreshed");
        QTRY_COMPARE(p.find<ui::ElidedLabel>("feedback")->text(), stale);
        QCOMPARE(p.closes, 0);
        QVERIFY(loadRecentKills(p.defaults).empty());
    }

    void cellTexts_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("project");
        QTest::addColumn<QString>("pathCell");
        QTest::addColumn<QString>("projectCell");
        QTest::addColumn<QString>("root");  // "-" for none
        QTest::addColumn<QString>("projectTip");
        QTest::newRow("both given") << "/usr/bin/node"
                                    << "shop"
                                    << "/usr/bin/node"
                                    << "shop"
                                    << "/home/me/shop"
                                    << "<p style='white-space:pre'>/home/me/shop</p>";
        QTest::newRow("blank path") << " \t"
                                    << "shop"
                                    << "\u2014"
                                    << "shop"
                                    << "-"
                                    << "";
        QTest::newRow("blank path and project") << ""
                                                << " \n"
                                                << "\u2014"
                                                << "\u2014"
                                                << "/srv/<b>a</b> &amp; b\n"
                                                << "<p style='white-space:pre'>/srv/"
                                                   "&lt;b&gt;a&lt;/b&gt; &amp;amp; b</p>";
    }
    void cellTexts() {
        QFETCH(QString, path);
        QFETCH(QString, project);
        QFETCH(QString, pathCell);
        QFETCH(QString, projectCell);
        QFETCH(QString, root);
        QFETCH(QString, projectTip);
        KillPanelModel model;
        PortProcess shown = row(4242, 3000, "node", path.toStdString(), project.toStdString());
        if (root != u"-") {
            shown.projectRoot = root.toStdString();
        }
        model.setRows({shown});
        const auto text = [&](int column, int role = Qt::DisplayRole) {
            return model.index(0, column).data(role).toString();
        };
        QCOMPARE(text(KillPanelModel::path), pathCell);
        QCOMPARE(text(KillPanelModel::project), projectCell);
        QCOMPARE(text(KillPanelModel::project, Qt::ToolTipRole), projectTip);
        QCOMPARE(text(KillPanelModel::process, Qt::AccessibleTextRole),
                 QStringLiteral("Port 3000, node, project %1, PID 4242").arg(projectCell));
        QCOMPARE(text(KillPanelModel::tick, Qt::AccessibleTextRole),
                 QStringLiteral("Select port 3000 for batch kill"));
        QCOMPARE(text(KillPanelModel::tick, Qt::AccessibleDescriptionRole),
                 QStringLiteral("Not selected"));
        model.setTicked({"4242-3000"});
        QCOMPARE(text(KillPanelModel::tick, Qt::AccessibleDescriptionRole),
                 QStringLiteral("Selected"));
    }

    // A container row has no PID, shows its command and is stopped, not killed.
    void aContainerRowSaysStopContainer() {
        PortProcess web = row(0, 8080, "docker", "", "");
        web.arguments = {"nginx -g daemon off;"};
        web.dockerContext = DockerContext{"web-1", "web"};
        Panel p({row(100, 3000), web});
        QVERIFY(p.loaded(2));
        QCOMPARE(p.killButton()->text(), QStringLiteral("Kill selected"));
        p.store.setSelectedIndex(1);
        QTRY_COMPARE(p.killButton()->text(), QStringLiteral("Stop container"));
        const auto text = [&](int column, int role = Qt::DisplayRole) {
            return p.table()->model()->index(1, column).data(role).toString();
        };
        QCOMPARE(text(KillPanelModel::pid), QStringLiteral("\u2014"));
        QCOMPARE(text(KillPanelModel::path), QStringLiteral("nginx -g daemon off;"));
        QCOMPARE(text(KillPanelModel::process, Qt::AccessibleTextRole),
                 QStringLiteral("Port 8080, docker, project web, container web-1"));
    }

    void hostileTextStaysInertAndNeverStretchesTheWindow() {
        const std::string huge(100 * 1024, 'x');
        Panel p({row(1, 3000, "\x1b[31mred\x1b]0;title\x07", "/srv/\u202Eexe.txt", huge),
                 row(2, 3001, "bad\xff\xfeutf8\n<b>x</b>", huge, "shop")});
        QVERIFY(p.loaded(2));
        p.store.setFeedback(feedback::Failure{huge + "\x1b[2J"});
        QTRY_COMPARE(p.find<ui::ElidedLabel>("feedback")->text().size(), 512);
        QAbstractItemModel* model = p.table()->model();
        for (int r = 0; r < 2; ++r) {
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
        QVERIFY(p.view.minimumSizeHint().width() <= 720);
        QCOMPARE(p.view.width(), 720);
    }

    void popoverListsTheSixteenCommonPorts() {
        PortReferencePopover popover(commonPortReferenceRows());
        QCOMPARE(popover.width(), PortReferencePopover::kWidth);
        QStringList ports;
        for (const PortReferenceRow& r : commonPortReferenceRows()) {
            auto* label = popover.findChild<QLabel*>(r.id());
            QVERIFY2(label != nullptr, qPrintable(r.id()));
            QVERIFY(label->alignment() & Qt::AlignRight);
            ports.append(label->text());
        }
        QCOMPARE(ports.size(), 16);
        QCOMPARE(ports.count(QStringLiteral("3000")), 2);
        QCOMPARE(commonPortReferenceRows().front().id(), QStringLiteral("HTTP-80"));
        QCOMPARE(commonPortReferenceRows().back().id(), QStringLiteral("Spring Boot-8080"));
    }

    void coordinatorBringsTheOpenPanelForwardAndResetsOnClose() {
        auto scanner = std::make_shared<ScriptedScanner>();
        scanner->scans.answerEvery(rows(2));
        ProcessStore store(scanner, std::make_shared<ScriptedKillEngine>());
        auto& coordinator = HalvoKillCoordinator::shared();
        coordinator.setStore(&store, std::make_shared<InMemoryDefaultsStore>());
        coordinator.showPanel();
        auto& presenter = ui::TAVSatelliteWindowPresenter::shared();
        QWidget* window = presenter.window(HalvoKillCoordinator::kPanelId);
        QVERIFY(window != nullptr);
        QCOMPARE(window->windowTitle(), QStringLiteral("Halvo"));
        QCOMPARE(window->minimumSize(), QSize(720, 500));
        QTRY_COMPARE(store.processes().size(), size_t(2));
        window->setGeometry(40, 50, 800, 560);
        const QUuid request = store.focusRequestId();
        coordinator.showPanel();
        QCOMPARE(presenter.window(HalvoKillCoordinator::kPanelId), window);
        QCOMPARE(window->geometry(), QRect(40, 50, 800, 560));
        QVERIFY(store.focusRequestId() != request);

        QApplication::setActiveWindow(window);
        QTest::keyClick(window->findChild<QLineEdit*>("search"), Qt::Key_Escape);
        QCOMPARE(presenter.window(HalvoKillCoordinator::kPanelId), nullptr);
        QVERIFY(store.processes().empty());
        coordinator.setStore(nullptr, nullptr);
    }
};

QTEST_MAIN(KillPanelTest)
#include "kill_panel_test.moc"
