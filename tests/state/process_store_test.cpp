// The process store against a scanner and a kill engine that the test answers
// call by call, so that every interleaving of awaits is chosen, not hoped for.
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>

#include "kill/feedback.h"
#include "state/leave_alone_watcher.h"
#include "state/process_store.h"
#include "support/fixtures.h"
#include "support/scripted_fakes.h"

using halvo::Feedback;
using halvo::KillMode;
using halvo::KillOutcome;
using halvo::PortProcess;
using halvo::ProcessStore;
using halvo::testing::ScriptedContainerStopper;
using halvo::testing::ScriptedKillEngine;
using halvo::testing::ScriptedScanner;
namespace feedback = halvo::feedback;

Q_DECLARE_METATYPE(halvo::KillOutcome)

namespace {

using halvo::testing::containerRow;
using halvo::testing::row;
using Rows = std::vector<PortProcess>;

// The same server as `p`, started at another moment.
PortProcess startedLater(PortProcess p) {
    p.startTime.seconds += 1000;
    return p;
}

// Every change signal of a store, in order, and how many came off its thread.
class SignalLog {
  public:
    explicit SignalLog(ProcessStore& store) {
        using S = ProcessStore;
        for (auto [signal, name] : {std::pair{&S::processesChanged, "processes"},
                                    {&S::foreignListenersChanged, "foreignListeners"},
                                    {&S::queryChanged, "query"},
                                    {&S::selectedIndexChanged, "selectedIndex"},
                                    {&S::feedbackChanged, "feedback"},
                                    {&S::killModeChanged, "killMode"},
                                    {&S::focusRequestIdChanged, "focusRequestId"}}) {
            // Direct: the slot runs on the thread that emits.
            QObject::connect(
                &store, signal, &context_,
                [this, &store, name] {
                    names.append(QString::fromLatin1(name));
                    offThread += QThread::currentThread() != store.thread() ? 1 : 0;
                },
                Qt::DirectConnection);
        }
    }

    QStringList names;
    int offThread = 0;

  private:
    QObject context_;
};

struct Harness {
    std::shared_ptr<ScriptedScanner> scanner = std::make_shared<ScriptedScanner>();
    std::shared_ptr<ScriptedKillEngine> engine = std::make_shared<ScriptedKillEngine>();
    std::shared_ptr<ScriptedContainerStopper> stopper =
        std::make_shared<ScriptedContainerStopper>();
    std::unique_ptr<ProcessStore> store = std::make_unique<ProcessStore>(scanner, engine, stopper);

    Harness() = default;
    explicit Harness(const Rows& rows) { load(rows); }

    // Publishes `rows` through a real reload.
    void load(const Rows& rows) {
        scanner->scans.answer(scanner->scans.callCount(), rows);
        QCoro::waitFor(store->reload());
        QCOMPARE(store->processes(), rows);
    }
};

// Waits until the pool runs only the `stillWaiting` calls that have no answer
// yet; the others have then posted their results, and their resumptions run
// here, so a resumption that must not publish has had its chance.
void settle(int stillWaiting = 0) {
    QTRY_COMPARE(QThreadPool::globalInstance()->activeThreadCount(), stillWaiting);
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents();
    }
}

}  // namespace

class ProcessStoreTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        // Scripted calls block pool threads; keep a few free on small machines.
        QThreadPool::globalInstance()->setMaxThreadCount(
            std::max(8, QThreadPool::globalInstance()->maxThreadCount()));
    }

    void onlyTheNewestScanPublishes_data() {
        QTest::addColumn<bool>("viaReload");
        QTest::addColumn<bool>("firstReturnsFirst");
        QTest::newRow("two refreshes, first scan returns first") << false << true;
        QTest::newRow("two refreshes, first scan returns last") << false << false;
        QTest::newRow("two reloads, first scan returns first") << true << true;
    }
    void onlyTheNewestScanPublishes() {
        QFETCH(bool, viaReload);
        QFETCH(bool, firstReturnsFirst);
        Harness h;
        QSignalSpy published(h.store.get(), &ProcessStore::processesChanged);
        std::vector<QCoro::Task<>> reloads;
        for (size_t started = 1; started <= 2; ++started) {
            viaReload ? reloads.push_back(h.store->reload()) : h.store->refresh();
            QVERIFY(h.scanner->scans.waitForCalls(started));  // scans numbered in call order
        }
        const Rows scans[] = {{row(1, 3000)}, {row(2, 5173), row(3, 8080)}};
        for (size_t returned = 0; returned < 2; ++returned) {
            const size_t index = firstReturnsFirst ? returned : 1 - returned;
            h.scanner->scans.answer(index, scans[index]);
            QVERIFY(h.scanner->scans.waitForReturns(returned + 1));
            settle(static_cast<int>(1 - returned));
            QTRY_COMPARE(h.store->processes(), index == 1 || returned == 1 ? scans[1] : Rows{});
        }
        QCOMPARE(published.count(), 1);
    }

    void reloadKeepsWhatResetForgets() {
        Harness h;
        h.scanner->setUnlisted({{5432, 105, "postgres"}}, {{812, "redis-server", 6379}});
        h.load({row(1, 3000), row(2, 5173), row(3, 8080, "vite")});
        h.store->setQuery("node");
        h.store->setSelectedIndex(1);
        h.store->setFeedback(feedback::Success{3000});
        h.store->setKillMode(KillMode::force);
        h.load({row(1, 3000), row(2, 5173), row(4, 9000)});
        QCOMPARE(h.store->query(), QString("node"));
        QCOMPARE(h.store->selectedIndex(), 1);
        QCOMPARE(h.store->feedback(), Feedback(feedback::Success{3000}));
        // The selection stays on its row when another comes before it.
        h.load({row(5, 2000), row(1, 3000), row(2, 5173), row(4, 9000)});
        QCOMPARE(h.store->selectedProcess()->id(), std::string("2-5173"));

        // A reset while reloads are in flight: none of them may publish.
        h.store->refresh();
        auto awaited = h.store->reload();
        QVERIFY(h.scanner->scans.waitForCalls(4));
        h.store->reset();
        QVERIFY(h.store->processes().empty());
        QVERIFY(h.store->foreignListeners().empty() && h.store->hiddenListeners().empty());
        QCOMPARE(h.store->query(), QString());
        QCOMPARE(h.store->selectedIndex(), 0);
        QCOMPARE(h.store->feedback(), std::nullopt);
        QCOMPARE(h.store->killMode(), KillMode::force);

        QSignalSpy published(h.store.get(), &ProcessStore::processesChanged);
        h.scanner->scans.answerEvery({row(1, 3000)});
        QCoro::waitFor(awaited);
        QVERIFY(h.scanner->scans.waitForReturns(4));
        settle();
        QVERIFY(h.store->processes().empty());
        QCOMPARE(published.count(), 0);
        // The next opening scans afresh.
        h.store->refresh();
        QTRY_COMPARE(h.store->processes(), Rows{row(1, 3000)});
    }

    void destroyedStoreIsLeftAlone() {
        Harness h({row(1, 3000), row(2, 5173)});
        h.store->refresh();
        auto killing = h.store->kill(row(1, 3000));
        QVERIFY(h.engine->kills.waitForCalls(1));
        QPointer<ProcessStore> gone = h.store.get();
        h.store.reset();
        QVERIFY(gone.isNull());
        // A graceful kill of a store that went needs not wait its second out.
        QVERIFY(h.engine->kills.calls().at(0).stop.stop_requested());

        h.engine->kills.answer(0, KillOutcome::killed());
        h.scanner->scans.answerEvery({row(9, 9000)});
        QVERIFY(QCoro::waitFor(killing));
        QVERIFY(h.scanner->scans.waitForReturns(2));
        settle();
    }

    void selectionWrapsAndClamps() {
        Harness h;
        Rows rows;
        for (int i = 0; i < 10; ++i) {
            rows.push_back(row(100 + i, 4000 + i, i % 3 == 2 ? "vite" : "node"));
        }
        h.load(rows);
        // Over ten rows, every third one "vite": set `start`, then the query,
        // then move by `delta` (not at all when 0); `port` of the selected row.
        const struct {
            int start;
            QString query;
            int delta, selected, port;
        } cases[] = {
            {0, "", -12, 8, 4008},             // a step back past the list
            {2, "vite", +1, 0, 4002},          // wraps inside the filtered rows
            {-4, "vite", 0, 0, 4002},          // a negative index clamped
            {99, "vite", 0, 2, 4008},          // past the end, clamped
            {3, "matches nothing", +1, 0, 0},  // no rows
        };
        for (const auto& c : cases) {
            h.store->setQuery("");
            h.store->setSelectedIndex(c.start);
            QCOMPARE(h.store->selectedProcess().has_value(), c.start >= 0 && c.start < 10);
            h.store->setQuery(c.query);
            if (c.delta != 0) {
                h.store->moveSelection(c.delta);
            }
            QCOMPARE(h.store->selectedIndex(), c.selected);
            const auto chosen = h.store->selectedProcess();
            QCOMPARE(chosen ? chosen->port : 0, int64_t{c.port});
        }
    }

    void singleKillOutcome_data() {
        QTest::addColumn<KillOutcome>("outcome");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("selected");
        QTest::newRow("killed: every row of the process goes")
            << KillOutcome::killed() << Rows{row(900, 5432, "postgres")} << "Killed :3000" << 0;
        QTest::newRow("refused: the list stays")
            << KillOutcome::failed("Operation not permitted")
            << Rows{row(812, 3000), row(812, 3001), row(900, 5432, "postgres")}
            << "Operation not permitted" << 2;
        QTest::newRow("stale: reloads before the message")
            << KillOutcome::stale()
            << Rows{startedLater(row(812, 3000)), row(900, 5432, "postgres")}
            << QString::fromUtf8("Process on :3000 changed since last scan — list refreshed") << 1;
    }
    void singleKillOutcome() {
        QFETCH(KillOutcome, outcome);
        QFETCH(Rows, rows);
        QFETCH(QString, message);
        QFETCH(int, selected);
        Harness h({row(812, 3000), row(812, 3001), row(900, 5432, "postgres")});
        h.store->setSelectedIndex(2);
        h.engine->kills.answer(0, outcome);
        h.scanner->scans.answer(1, rows);  // taken only by a reload after a stale kill
        Rows listWhenTold;
        QObject::connect(h.store.get(), &ProcessStore::feedbackChanged, h.store.get(),
                         [&] { listWhenTold = h.store->processes(); });

        // The caller's copy is stale; the stored row's start time is what counts.
        PortProcess copy = startedLater(row(812, 3000));
        copy.executablePath = "/elsewhere/node";
        QCOMPARE(QCoro::waitFor(h.store->kill(copy)), outcome == KillOutcome::killed());

        const auto calls = h.engine->kills.calls();
        QCOMPARE(calls.size(), size_t{1});
        QCOMPARE(calls[0].pid, 812);
        QCOMPARE(calls[0].startTime, row(812, 3000).startTime);
        QCOMPARE(calls[0].mode, KillMode::graceful);  // unless told otherwise
        QVERIFY(calls[0].thread != std::this_thread::get_id());
        QCOMPARE(h.store->processes(), rows);
        QCOMPARE(listWhenTold, rows);
        QCOMPARE(h.scanner->scans.callCount(), outcome == KillOutcome::stale() ? 2u : 1u);
        QCOMPARE(h.store->feedbackText(), message);
        QCOMPARE(h.store->selectedIndex(), selected);
    }

    void queryChangingWhileAKillIsAwaited() {
        Harness h({row(100, 3000), row(101, 3001, "vite"), row(102, 3002), row(103, 3003, "vite"),
                   row(104, 3004), row(105, 3005, "vite")});
        h.store->setSelectedIndex(5);
        auto killing = h.store->killSelected();
        QVERIFY(h.engine->kills.waitForCalls(1));

        h.store->setQuery("vite");
        QCOMPARE(h.store->selectedIndex(), 2);
        h.engine->kills.answer(0, KillOutcome::killed());
        QVERIFY(QCoro::waitFor(killing));

        QCOMPARE(h.engine->kills.calls().at(0).pid, 105);
        QCOMPARE(h.store->feedbackText(), QString("Killed :3005"));
        QCOMPARE(h.store->filteredProcesses(),
                 (Rows{row(101, 3001, "vite"), row(103, 3003, "vite")}));
        QCOMPARE(h.store->selectedIndex(), 1);
    }

    // Container rows have no PID: the stopper ends them, alone or within a batch whose processes
    // are signalled together, and every row of the container goes.
    void containerRowsAreStoppedNotKilled() {
        Harness h({row(1, 3000), row(2, 3001), containerRow(8080, "web-1"),
                   containerRow(8081, "web-1"), containerRow(9000, "db")});
        h.stopper->stops.answerEvery(KillOutcome::killed());
        QVERIFY(QCoro::waitFor(h.store->kill(containerRow(8081, "web-1"))));
        QCOMPARE(h.stopper->stops.calls().at(0), std::string("web-1"));
        QCOMPARE(h.store->processes(),
                 (Rows{row(1, 3000), row(2, 3001), containerRow(9000, "db")}));
        QCOMPARE(h.store->feedbackText(), QString("Stopped container web-1 (:8081)"));
        // The caller saw another container on 9000 than the store holds now.
        h.scanner->scans.answer(1, Rows{row(1, 3000), row(2, 3001), containerRow(9000, "db")});
        QVERIFY(!QCoro::waitFor(h.store->kill(containerRow(9000, "cache"))));
        QCOMPARE(h.stopper->stops.callCount(), size_t{1});
        QCOMPARE(h.store->feedbackText(),
                 QString::fromUtf8("Process on :9000 changed since last scan — list refreshed"));

        h.engine->kills.answerEvery(KillOutcome::killed());
        QCOMPARE(QCoro::waitFor(h.store->killBatch({"1-3000", "2-3001", "0-9000"})).size(),
                 size_t{3});
        QCOMPARE(h.engine->batches.load(), 1);  // signalled together, one grace second
        QCOMPARE(h.store->processes(), Rows{});
        QCOMPARE(h.store->feedbackText(), QString("Killed 3 ports"));
    }

    void killsMatchingNothingChangeNothing() {
        Harness h({row(1, 3000)});
        SignalLog log(*h.store);
        QVERIFY(!QCoro::waitFor(h.store->kill(row(1, 3001))));
        QVERIFY(!QCoro::waitFor(h.store->kill(row(2, 3000))));
        QVERIFY(QCoro::waitFor(h.store->killBatch({"1-3001", "3000", ""})).empty());
        h.store->setQuery("nothing like it");
        QVERIFY(!QCoro::waitFor(h.store->killSelected()));
        QCOMPARE(h.engine->kills.callCount(), size_t{0});
        QCOMPARE(log.names, QStringList{"query"});
    }

    // The watched list follows its file, written in place or replaced, and
    // the store moves rows between its list and the rows it leaves alone.
    void leaveAloneListFollowsItsFile() {
        Harness h({row(1, 3000), row(2, 3001)});
        QTemporaryDir config;
        const std::string path = config.path().toStdString() + "/halvo/leave-alone";
        halvo::LeaveAloneWatcher watcher(path);
        QObject::connect(&watcher, &halvo::LeaveAloneWatcher::listChanged, h.store.get(),
                         [&] { h.store->setLeaveAlone(watcher.list()); });
        QVERIFY(!halvo::addToLeaveAloneList(path, {{halvo::PortRange{3001, 3001}, {}}}));
        QTRY_COMPARE(h.store->processes(), Rows{row(1, 3000)});
        QCOMPARE(h.store->leftAlone().at(0).row, row(2, 3001));
        QVERIFY(!QCoro::waitFor(h.store->kill(row(2, 3001))));
        std::ofstream(path, std::ios::app) << "node\n";
        QTRY_VERIFY(h.store->processes().empty());
        QFile::remove(QString::fromStdString(path));
        QTRY_COMPARE(h.store->processes(), (Rows{row(1, 3000), row(2, 3001)}));
        QCOMPARE(h.engine->kills.callCount(), size_t{0});
    }

    // Signals come only with real changes, on the store's thread; a scan's
    // unlisted listeners come before its rows and go when a scan no longer
    // finds them.
    void signalsComeOnlyWithChanges() {
        Harness h;
        SignalLog log(*h.store);
        h.store->reset();  // nothing to forget yet
        h.load({});
        const Rows rows{row(1, 3000), row(2, 3001), row(3, 3002)};
        const QUuid focus = QUuid::createUuid();
        h.scanner->setUnlisted({{5432, 105, "postgres"}});
        for (int twice = 0; twice < 2; ++twice) {  // the second time changes nothing
            h.load(rows);
            h.store->setQuery("node");
            h.store->setSelectedIndex(2);
            h.store->setFeedback(feedback::Stale{3000});
            h.store->setKillMode(KillMode::force);
            h.store->setFocusRequestId(focus);
        }
        const std::vector<halvo::LsofRow> redis{{812, "redis-server", 6379}};
        h.scanner->setUnlisted({{5432, 105, "postgres"}}, redis);
        h.load(rows);
        QCOMPARE(h.store->hiddenListeners(), redis);
        h.store->setFeedback(feedback::Success{3000});
        QCOMPARE(h.store->focusRequestId(), focus);
        QCOMPARE(log.names,
                 (QStringList{"foreignListeners", "processes", "query", "selectedIndex", "feedback",
                              "killMode", "focusRequestId", "foreignListeners", "feedback"}));
        h.scanner->setUnlisted({});
        h.load(rows);
        QVERIFY(h.store->foreignListeners().empty() && h.store->hiddenListeners().empty());
        QCOMPARE(log.offThread, 0);
    }
};

QTEST_GUILESS_MAIN(ProcessStoreTest)
#include "process_store_test.moc"
