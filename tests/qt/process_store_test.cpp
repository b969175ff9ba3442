// The process store against a scanner and a kill engine that the test answers
// call by call, so that every interleaving of awaits is chosen, not hoped for.
#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <memory>
#include <thread>

#include "kill/feedback.h"
#include "kill/process_store.h"
#include "scripted_fakes.h"

using halvo::Feedback;
using halvo::KillMode;
using halvo::KillOutcome;
using halvo::PortProcess;
using halvo::ProcessStore;
using halvo::testing::ScriptedKillEngine;
using halvo::testing::ScriptedScanner;
namespace feedback = halvo::feedback;

namespace {

using Rows = std::vector<PortProcess>;

PortProcess row(int32_t pid, int64_t port, const std::string& name = "node",
                int64_t started = 1000) {
    PortProcess p;
    p.port = port;
    p.pid = pid;
    p.startTime = {started, 250};
    p.executableName = name;
    p.executablePath = "/usr/bin/" + name;
    p.arguments = {name, "server.js"};
    return p;
}

std::vector<int32_t> pidsOf(const std::vector<halvo::testing::KillCall>& calls) {
    std::vector<int32_t> pids;
    for (const auto& call : calls) {
        pids.push_back(call.pid);
    }
    return pids;
}

QString textOf(const std::optional<Feedback>& value) {
    return value ? QString::fromStdString(halvo::feedbackText(*value)) : QStringLiteral("<none>");
}

// Every change signal of a store, in order, and whether any came from
// another thread than the store's.
class SignalLog {
  public:
    explicit SignalLog(ProcessStore& store) {
        const auto watch = [&](auto signal, const char* name) {
            QObject::connect(&store, signal, &context_, [this, &store, name] {
                names.append(QString::fromLatin1(name));
                if (QThread::currentThread() != store.thread()) {
                    ++offThread;
                }
            });
        };
        watch(&ProcessStore::processesChanged, "processes");
        watch(&ProcessStore::queryChanged, "query");
        watch(&ProcessStore::selectedIndexChanged, "selectedIndex");
        watch(&ProcessStore::feedbackChanged, "feedback");
        watch(&ProcessStore::killModeChanged, "killMode");
        watch(&ProcessStore::focusRequestIDChanged, "focusRequestID");
    }

    QStringList names;
    int offThread = 0;

  private:
    QObject context_;
};

struct Harness {
    std::shared_ptr<ScriptedScanner> scanner = std::make_shared<ScriptedScanner>();
    std::shared_ptr<ScriptedKillEngine> engine = std::make_shared<ScriptedKillEngine>();
    std::unique_ptr<ProcessStore> store = std::make_unique<ProcessStore>(scanner, engine);

    // Publishes `rows` through a real reload.
    void load(const Rows& rows) {
        scanner->scans.answer(scanner->scans.callCount(), rows);
        QCoro::waitFor(store->reload());
        QCOMPARE(store->processes(), rows);
    }
};

// Lets queued events (a resumption that should not publish) run out.
void settle() {
    QTest::qWait(100);
}

}  // namespace

namespace halvo {
// Readable failures of QCOMPARE.
char* toString(const PortProcess& p) {
    return QTest::toString(QString::fromStdString(p.id() + " " + p.executableName + " started " +
                                                  std::to_string(p.startTime.seconds)));
}
char* toString(const std::vector<PortProcess>& rows) {
    QStringList ids;
    for (const PortProcess& p : rows) {
        ids.append(QString::fromStdString(p.id()));
    }
    return QTest::toString("[" + ids.join(", ") + "]");
}
}  // namespace halvo

class ProcessStoreTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        // Scripted calls block pool threads; keep a few free on small machines.
        QThreadPool::globalInstance()->setMaxThreadCount(
            std::max(8, QThreadPool::globalInstance()->maxThreadCount()));
    }

    void onlyTheNewestReloadPublishes() {
        Harness h;
        // Scans are numbered as they reach the scanner: let each arrive in turn.
        auto first = h.store->reload();
        QVERIFY(h.scanner->scans.waitForCalls(1));
        auto second = h.store->reload();
        QVERIFY(h.scanner->scans.waitForCalls(2));

        h.scanner->scans.answer(0, {row(1, 3000)});
        QCoro::waitFor(first);
        QVERIFY(h.store->processes().empty());

        h.scanner->scans.answer(1, {row(2, 5173)});
        QCoro::waitFor(second);
        QCOMPARE(h.store->processes(), Rows{row(2, 5173)});
    }

    void twoRefreshesPublishOnlyTheSecondScan_data() {
        QTest::addColumn<bool>("firstScanReturnsFirst");
        QTest::newRow("first scan returns first") << true;
        QTest::newRow("first scan returns last") << false;
    }
    void twoRefreshesPublishOnlyTheSecondScan() {
        QFETCH(bool, firstScanReturnsFirst);
        Harness h;
        QSignalSpy published(h.store.get(), &ProcessStore::processesChanged);
        h.store->refresh();
        QVERIFY(h.scanner->scans.waitForCalls(1));
        h.store->refresh();
        QVERIFY(h.scanner->scans.waitForCalls(2));

        const Rows firstScan{row(1, 3000)};
        const Rows secondScan{row(2, 5173), row(3, 8080)};
        if (firstScanReturnsFirst) {
            h.scanner->scans.answer(0, firstScan);
            QVERIFY(h.scanner->scans.waitForReturns(1));
            settle();
            QVERIFY(h.store->processes().empty());
            h.scanner->scans.answer(1, secondScan);
            QTRY_COMPARE(h.store->processes(), secondScan);
        } else {
            h.scanner->scans.answer(1, secondScan);
            QTRY_COMPARE(h.store->processes(), secondScan);
            h.scanner->scans.answer(0, firstScan);
            QVERIFY(h.scanner->scans.waitForReturns(2));
            settle();
        }
        QCOMPARE(h.store->processes(), secondScan);
        QCOMPARE(published.count(), 1);
    }

    void resetDuringReloadLeavesTheListEmpty() {
        Harness h;
        h.load({row(1, 3000), row(2, 5173)});
        h.store->setQuery("node");
        h.store->setSelectedIndex(1);
        h.store->setFeedback(feedback::Success{3000});

        h.store->refresh();
        auto awaited = h.store->reload();
        QVERIFY(h.scanner->scans.waitForCalls(3));
        h.store->reset();
        QVERIFY(h.store->processes().empty());
        QCOMPARE(h.store->query(), QString());
        QCOMPARE(h.store->selectedIndex(), 0);
        QCOMPARE(h.store->feedback(), std::nullopt);

        QSignalSpy published(h.store.get(), &ProcessStore::processesChanged);
        h.scanner->scans.answerEvery({row(1, 3000)});
        QCoro::waitFor(awaited);
        QVERIFY(h.scanner->scans.waitForReturns(3));
        settle();
        QVERIFY(h.store->processes().empty());
        QCOMPARE(published.count(), 0);

        // The next opening scans afresh and starts on the first row.
        h.store->refresh();
        QTRY_COMPARE(h.store->processes(), Rows{row(1, 3000)});
        QCOMPARE(h.store->selectedIndex(), 0);
    }

    void reloadLeavesFeedbackQueryAndModeAlone() {
        Harness h;
        h.load({row(1, 3000), row(2, 5173), row(3, 8080, "vite")});
        h.store->setQuery("node");
        h.store->setSelectedIndex(1);
        h.store->setFeedback(feedback::Failure{"No process on :4000"});
        h.store->setKillMode(KillMode::safe);

        // The selected index stays where it is as long as it still exists.
        h.load({row(1, 3000), row(2, 5173), row(4, 9000)});
        QCOMPARE(h.store->query(), QString("node"));
        QCOMPARE(h.store->selectedIndex(), 1);
        QCOMPARE(textOf(h.store->feedback()), QString("No process on :4000"));
        QCOMPARE(h.store->killMode(), KillMode::safe);

        h.load({row(1, 3000)});
        QCOMPARE(h.store->selectedIndex(), 0);
    }

    void destroyedStoreIsLeftAlone() {
        Harness h;
        h.load({row(1, 3000), row(2, 5173)});
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

    void selectionWrapsAroundTheFilteredRows() {
        Harness h;
        h.load({row(1, 3001), row(2, 3002), row(3, 3003), row(4, 3004), row(5, 3005)});

        h.store->moveSelection(-1);
        QCOMPARE(h.store->selectedIndex(), 4);
        QCOMPARE(h.store->selectedProcess(), row(5, 3005));
        h.store->moveSelection(+1);
        QCOMPARE(h.store->selectedIndex(), 0);
        h.store->moveSelection(+2);
        QCOMPARE(h.store->selectedIndex(), 2);
        // Steps longer than the list still land inside it.
        h.store->moveSelection(-7);
        QCOMPARE(h.store->selectedIndex(), 0);
        h.store->moveSelection(-12);
        QCOMPARE(h.store->selectedIndex(), 3);

        h.store->setQuery("matches nothing");
        QCOMPARE(h.store->selectedIndex(), 0);
        QCOMPARE(h.store->selectedProcess(), std::nullopt);
        h.store->setSelectedIndex(3);
        h.store->moveSelection(1);
        QCOMPARE(h.store->selectedIndex(), 0);
    }

    void clampKeepsTheSelectionInsideTheFilteredRows() {
        Harness h;
        Rows rows;
        for (int i = 0; i < 10; ++i) {
            rows.push_back(row(100 + i, 4000 + i, i % 3 == 2 ? "vite" : "node"));
        }
        h.load(rows);

        // Ten rows shrink to three: index 7 moves to 2, not back to the first row.
        h.store->setSelectedIndex(7);
        h.store->setQuery("vite");
        QCOMPARE(h.store->filteredProcesses().size(), size_t{3});
        QCOMPARE(h.store->selectedIndex(), 2);
        QCOMPARE(h.store->selectedProcess(), row(108, 4008, "vite"));
        h.store->setQuery("  VITE ");
        QCOMPARE(h.store->selectedIndex(), 2);
        h.store->setQuery("");
        QCOMPARE(h.store->selectedIndex(), 2);

        h.store->setSelectedIndex(9);
        h.store->setQuery("node");
        QCOMPARE(h.store->filteredProcesses().size(), size_t{7});
        QCOMPARE(h.store->selectedIndex(), 6);

        h.store->setSelectedIndex(-4);
        QCOMPARE(h.store->selectedProcess(), std::nullopt);
        h.store->clampSelection();
        QCOMPARE(h.store->selectedIndex(), 0);
        h.store->setSelectedIndex(99);
        QCOMPARE(h.store->selectedProcess(), std::nullopt);
        h.store->clampSelection();
        QCOMPARE(h.store->selectedIndex(), 6);
    }

    void killRemovesEveryRowOfTheProcess() {
        Harness h;
        h.load({row(812, 3000), row(812, 3001), row(900, 5432, "postgres")});
        h.store->setKillMode(KillMode::safe);
        h.store->setSelectedIndex(2);

        // The caller's copy is stale; the stored row's start time is what counts.
        PortProcess copy = row(812, 3000, "node", 1);
        copy.executablePath = "/elsewhere/node";
        h.engine->kills.answer(0, KillOutcome::killed());
        QVERIFY(QCoro::waitFor(h.store->kill(copy)));

        const auto calls = h.engine->kills.calls();
        QCOMPARE(calls.size(), size_t{1});
        QCOMPARE(calls[0].pid, 812);
        QCOMPARE(calls[0].startTime, row(812, 3000).startTime);
        QCOMPARE(calls[0].mode, KillMode::safe);
        QVERIFY(calls[0].thread != std::this_thread::get_id());
        QCOMPARE(h.store->processes(), Rows{row(900, 5432, "postgres")});
        QCOMPARE(textOf(h.store->feedback()), QString("Killed :3000"));
        QCOMPARE(h.store->selectedIndex(), 0);
    }

    void killOfARowNotInTheListDoesNothing() {
        Harness h;
        QVERIFY(!QCoro::waitFor(h.store->kill(row(1, 3000))));
        QVERIFY(!QCoro::waitFor(h.store->killSelected()));

        h.load({row(1, 3000)});
        h.store->setFeedback(feedback::Failure{"earlier"});
        QSignalSpy changed(h.store.get(), &ProcessStore::feedbackChanged);
        QVERIFY(!QCoro::waitFor(h.store->kill(row(1, 3001))));
        QVERIFY(!QCoro::waitFor(h.store->kill(row(2, 3000))));
        h.store->setQuery("nothing like it");
        QVERIFY(!QCoro::waitFor(h.store->killSelected()));

        QCOMPARE(h.engine->kills.callCount(), size_t{0});
        QCOMPARE(h.store->processes(), Rows{row(1, 3000)});
        QCOMPARE(changed.count(), 0);
    }

    void staleKillReloadsBeforeTheMessage() {
        Harness h;
        h.load({row(812, 3000), row(900, 5432)});
        const Rows restarted{row(812, 3000, "node", 2000), row(900, 5432)};
        h.engine->kills.answer(0, KillOutcome::stale());
        h.scanner->scans.answer(1, restarted);

        Rows listWhenTold;
        QObject::connect(h.store.get(), &ProcessStore::feedbackChanged, h.store.get(),
                         [&] { listWhenTold = h.store->processes(); });
        QVERIFY(!QCoro::waitFor(h.store->kill(row(812, 3000))));

        QCOMPARE(listWhenTold, restarted);
        QCOMPARE(h.scanner->scans.callCount(), size_t{2});
        QCOMPARE(textOf(h.store->feedback()),
                 QString::fromUtf8("Process on :3000 changed since last scan — list refreshed"));
    }

    void refusedKillKeepsTheList() {
        Harness h;
        const Rows rows{row(1, 22, "sshd-dev"), row(2, 3000)};
        h.load(rows);
        h.store->setSelectedIndex(0);
        h.engine->kills.answer(0, KillOutcome::failed("Operation not permitted"));
        QVERIFY(!QCoro::waitFor(h.store->killSelected()));

        QCOMPARE(h.engine->kills.calls().at(0).pid, 1);
        QCOMPARE(h.store->processes(), rows);
        QCOMPARE(h.store->feedback(), Feedback(feedback::Failure{"Operation not permitted"}));
        QCOMPARE(h.scanner->scans.callCount(), size_t{1});
    }

    void queryChangingWhileAKillIsAwaited() {
        Harness h;
        h.load({row(100, 3000), row(101, 3001, "vite"), row(102, 3002), row(103, 3003, "vite"),
                row(104, 3004), row(105, 3005, "vite")});
        h.store->setSelectedIndex(5);
        auto killing = h.store->killSelected();
        QVERIFY(h.engine->kills.waitForCalls(1));

        // The user types while the kill is under way.
        h.store->setQuery("vite");
        QCOMPARE(h.store->selectedIndex(), 2);
        h.engine->kills.answer(0, KillOutcome::killed());
        QVERIFY(QCoro::waitFor(killing));

        QCOMPARE(h.engine->kills.calls().at(0).pid, 105);
        QCOMPARE(textOf(h.store->feedback()), QString("Killed :3005"));
        QCOMPARE(h.store->filteredProcesses(),
                 (Rows{row(101, 3001, "vite"), row(103, 3003, "vite")}));
        QCOMPARE(h.store->selectedIndex(), 1);
    }

    void batchKillsProcessesOneAfterAnother() {
        Harness h;
        h.load({row(812, 3000), row(900, 5432, "postgres"), row(812, 3001), row(950, 8080)});
        h.store->setSelectedIndex(3);
        auto killing = h.store->killBatch({"812-3000", "812-3001", "900-5432", "1-1"});

        QVERIFY(h.engine->kills.waitForCalls(1));
        settle();
        QCOMPARE(h.engine->kills.callCount(), size_t{1});
        h.engine->kills.answer(0, KillOutcome::killed());
        QTRY_COMPARE(h.engine->kills.callCount(), size_t{2});
        // The first process's rows went before the second one was signalled.
        QCOMPARE(h.store->processes(), (Rows{row(900, 5432, "postgres"), row(950, 8080)}));
        h.engine->kills.answer(1, KillOutcome::killed());

        const Rows killed = QCoro::waitFor(killing);
        QCOMPARE(killed, (Rows{row(812, 3000), row(812, 3001), row(900, 5432, "postgres")}));
        QCOMPARE(pidsOf(h.engine->kills.calls()), (std::vector<int32_t>{812, 900}));
        QCOMPARE(h.store->processes(), Rows{row(950, 8080)});
        QCOMPARE(textOf(h.store->feedback()), QString("Killed 3 ports"));
        QCOMPARE(h.store->selectedIndex(), 0);
        QCOMPARE(h.scanner->scans.callCount(), size_t{1});
    }

    void batchWithARefusedProcess() {
        Harness h;
        h.load({row(1, 3000), row(2, 5432, "postgres")});
        h.engine->kills.answer(0, KillOutcome::killed());
        h.engine->kills.answer(1, KillOutcome::failed("Operation not permitted"));
        const Rows killed = QCoro::waitFor(h.store->killBatch({"1-3000", "2-5432"}));

        QCOMPARE(killed, Rows{row(1, 3000)});
        QCOMPARE(h.store->processes(), Rows{row(2, 5432, "postgres")});
        QCOMPARE(textOf(h.store->feedback()),
                 QString("Killed 1, failed 1: Operation not permitted"));
    }

    void batchOfChangedProcessesReloadsOnce() {
        Harness h;
        h.load({row(1, 3000), row(1, 3001), row(2, 5432)});
        h.engine->kills.answerEvery(KillOutcome::stale());
        const Rows rescanned{row(1, 3000, "node", 5000)};
        h.scanner->scans.answer(1, rescanned);
        const Rows killed = QCoro::waitFor(h.store->killBatch({"1-3000", "1-3001", "2-5432"}));

        QVERIFY(killed.empty());
        QCOMPARE(h.engine->kills.callCount(), size_t{2});
        QCOMPARE(h.scanner->scans.callCount(), size_t{2});
        QCOMPARE(h.store->processes(), rescanned);
        QCOMPARE(h.store->feedback(),
                 Feedback(feedback::Failure{"process changed since last scan"}));
    }

    void batchTellsTheLastFailure_data() {
        QTest::addColumn<bool>("staleFirst");
        QTest::addColumn<QString>("message");
        QTest::newRow("stale, then refused") << true << "Operation not permitted";
        QTest::newRow("refused, then stale") << false << "process changed since last scan";
    }
    void batchTellsTheLastFailure() {
        QFETCH(bool, staleFirst);
        QFETCH(QString, message);
        Harness h;
        h.load({row(1, 3000), row(2, 5432), row(3, 8080)});
        const KillOutcome refused = KillOutcome::failed("Operation not permitted");
        h.engine->kills.answer(0, staleFirst ? KillOutcome::stale() : refused);
        h.engine->kills.answer(1, staleFirst ? refused : KillOutcome::stale());
        h.scanner->scans.answer(1, {row(1, 3000), row(2, 5432), row(3, 8080)});
        QVERIFY(QCoro::waitFor(h.store->killBatch({"1-3000", "2-5432"})).empty());

        QCOMPARE(h.scanner->scans.callCount(), size_t{2});
        QCOMPARE(textOf(h.store->feedback()), message);

        // With a killed process among them the message is still the last failure's.
        h.engine->kills.answer(2, KillOutcome::killed());
        h.engine->kills.answer(3, staleFirst ? KillOutcome::stale() : refused);
        h.engine->kills.answer(4, staleFirst ? refused : KillOutcome::stale());
        h.scanner->scans.answer(2, {row(1, 3000), row(2, 5432)});
        QCOMPARE(QCoro::waitFor(h.store->killBatch({"1-3000", "2-5432", "3-8080"})).size(),
                 size_t{1});
        QCOMPARE(textOf(h.store->feedback()), "Killed 1, failed 2: " + message);
    }

    void batchMatchingNothingLeavesFeedbackAlone() {
        Harness h;
        h.load({row(1, 3000)});
        h.store->setFeedback(feedback::Success{3000});
        SignalLog log(*h.store);
        QVERIFY(QCoro::waitFor(h.store->killBatch({"1-3001", "3000", ""})).empty());
        QVERIFY(QCoro::waitFor(h.store->killBatch({})).empty());

        QCOMPARE(h.engine->kills.callCount(), size_t{0});
        QCOMPARE(h.store->feedback(), Feedback(feedback::Success{3000}));
        QCOMPARE(log.names, QStringList());
    }

    void settersSignalOnlyRealChanges() {
        Harness h;
        SignalLog log(*h.store);
        h.store->reset();  // nothing to forget yet
        h.store->setQuery("");
        h.store->setSelectedIndex(0);
        h.store->setFeedback(std::nullopt);
        h.store->setKillMode(KillMode::force);
        h.store->setFocusRequestID(h.store->focusRequestID());
        h.load({});
        QCOMPARE(log.names, QStringList());

        h.store->setQuery("node");
        h.store->setQuery("node");
        h.store->setSelectedIndex(2);
        h.store->setSelectedIndex(2);
        h.store->setFeedback(feedback::Stale{3000});
        h.store->setFeedback(feedback::Stale{3000});
        h.store->setFeedback(feedback::Success{3000});
        h.store->setKillMode(KillMode::safe);
        h.store->setKillMode(KillMode::safe);
        const QUuid focus = QUuid::createUuid();
        h.store->setFocusRequestID(focus);
        h.store->setFocusRequestID(focus);
        QCOMPARE(h.store->focusRequestID(), focus);
        h.load({row(1, 3000)});
        h.load({row(1, 3000)});
        QCOMPARE(log.names,
                 (QStringList{"query", "selectedIndex", "feedback", "feedback", "killMode",
                              "focusRequestID", "processes", "selectedIndex"}));
    }

    void changesReachObserversOnTheMainThread() {
        Harness h;
        SignalLog log(*h.store);
        h.scanner->scans.answerEvery({row(1, 3000), row(1, 3001), row(2, 5432), row(3, 8080)});
        h.store->refresh();
        QTRY_COMPARE(h.store->processes().size(), size_t{4});
        h.store->setSelectedIndex(3);

        h.engine->kills.answer(0, KillOutcome::killed());
        QVERIFY(QCoro::waitFor(h.store->kill(row(2, 5432))));
        h.engine->kills.answer(1, KillOutcome::stale());
        h.engine->kills.answer(2, KillOutcome::killed());
        QCOMPARE(QCoro::waitFor(h.store->killBatch({"1-3000", "3-8080"})).size(), size_t{1});
        h.store->reset();

        QCOMPARE(log.offThread, 0);
        QCOMPARE(log.names, (QStringList{
                                "processes",      // scan
                                "selectedIndex",  // 3 is set by hand
                                "processes",
                                "feedback",       // killed 5432
                                "selectedIndex",  // pulled back to 2
                                "processes",      // 8080 killed
                                "processes",      // the reload after the stale
                                "feedback",       // Killed 1, failed 1
                                "selectedIndex",
                                "feedback",  // reset
                                "processes",
                            }));
        for (const auto& call : h.scanner->scans.calls()) {
            QVERIFY(call.thread != std::this_thread::get_id());
        }
    }
};

QTEST_GUILESS_MAIN(ProcessStoreTest)
#include "process_store_test.moc"
