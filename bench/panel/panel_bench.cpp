// How long the kill panel keeps the user waiting, measured on the main thread
// up to the moment its list has been painted:
//   open:      showPanel -> window exposed, and -> first paint with rows: 20
//              fixed rows, then a real scan of five stand-in servers (what
//              the hotkey does; its key delivery is tray_bench's)
//   keystroke: one key in the search field with 10,000 rows -> repaint (or
//              nothing left to do, when the matching rows stay the same)
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise; on a
// real X server: QT_QPA_PLATFORM=xcb scripts/desktop-session build/bench/panel/panel_bench
#include <QApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPointer>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "busy_rows.h"
#include "panel/halvo_kill_coordinator.h"
#include "scan/system_scanner.h"
#include "stand_in_servers.h"
#include "state/process_store.h"
#include "support/fixtures.h"
#include "ui/style.h"

namespace {

using halvo::PortProcess;

using halvo::bench::busyRows;
using halvo::testing::FixedScanner;
using halvo::testing::RecordingEngine;

// Counts paints of the table's viewport that happen while it has rows, and
// notes when the panel's window was first exposed.
class PaintWatch final : public QObject {
  public:
    QPointer<QTableView> table;
    int paints = 0;
    QElapsedTimer clock;
    double exposed = -1;
    QEventLoop* waiting = nullptr;  // quit at the next paint counted
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (exposed < 0 && event->type() == QEvent::Expose) {
            exposed = clock.nsecsElapsed() / 1e6;
        }
        if (table && watched == table->viewport() && event->type() == QEvent::Paint &&
            table->model()->rowCount() > 0) {
            ++paints;
            if (waiting != nullptr) {
                waiting->quit();
            }
        }
        return false;
    }
};

// Runs events until `watch` saw a paint past `before` (or, when `mayStaySame`,
// until nothing is left to do: a key that leaves the rows as they were needs
// no repaint); the elapsed milliseconds.
double untilPainted(PaintWatch& watch, int before, const QElapsedTimer& clock,
                    bool mayStaySame = false) {
    if (!mayStaySame && watch.paints == before) {
        // An event loop as the application's: neither polling nor sleeping.
        QEventLoop loop;
        watch.waiting = &loop;
        loop.exec();
        watch.waiting = nullptr;
    }
    for (int idle = 0; watch.paints == before && idle < 3; ++idle) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return clock.nsecsElapsed() / 1e6;
}

void report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.2f ms   min %7.2f ms   max %7.2f ms   (%zu runs)\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

QTableView* panelTable() {
    return halvo::HalvoKillCoordinator::shared().panel()->findChild<QTableView*>(
        QStringLiteral("table"));
}

// Opens and closes the panel `runs` times; reports how long showPanel itself
// takes, and showPanel -> exposed and -> painted with rows.
void openPanel(halvo::ProcessStore& store, int runs, const char* what) {
    auto& coordinator = halvo::HalvoKillCoordinator::shared();
    coordinator.setStore(&store, std::make_shared<halvo::InMemoryDefaultsStore>());
    PaintWatch watch;
    qApp->installEventFilter(&watch);
    std::vector<double> returned, exposed, painted;
    for (int i = 0; i < runs; ++i) {
        watch.exposed = -1;
        watch.clock.start();
        coordinator.showPanel();
        returned.push_back(watch.clock.nsecsElapsed() / 1e6);
        watch.table = panelTable();
        painted.push_back(untilPainted(watch, watch.paints, watch.clock));
        exposed.push_back(watch.exposed);
        coordinator.closePanel();
        // The close and its deletions reach the X server before the next run.
        QTest::qWait(50);
    }
    qApp->removeEventFilter(&watch);
    for (const auto& [step, ms] :
         {std::pair{"showPanel returns", returned}, std::pair{"-> exposed", exposed},
          std::pair{"-> rows painted", painted}}) {
        report((std::string(step) + ", " + what).c_str(), ms);
    }
}

// What the open waits for at least: one scan of the system.
std::vector<double> scansAlone(halvo::PortScanning& scanner, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        scanner.scanAll();
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    return ms;
}

const char* const kQueries[] = {"node", "app-12", "python", "4000"};

// The store's share of a keystroke: setting the query, which re-clamps the
// selection over the filtered rows; no panel.
std::vector<double> queryOnly(halvo::ProcessStore& store) {
    QCoro::waitFor(store.reload());
    std::vector<double> ms;
    for (const QString query : kQueries) {
        for (qsizetype length = 1; length <= query.size(); ++length) {
            QElapsedTimer clock;
            clock.start();
            store.setQuery(query.left(length));
            ms.push_back(clock.nsecsElapsed() / 1e6);
        }
    }
    store.reset();
    return ms;
}

std::vector<double> keystrokes(halvo::ProcessStore& store) {
    auto& coordinator = halvo::HalvoKillCoordinator::shared();
    coordinator.setStore(&store, std::make_shared<halvo::InMemoryDefaultsStore>());
    coordinator.showPanel();
    PaintWatch watch;
    watch.table = panelTable();
    qApp->installEventFilter(&watch);
    untilPainted(watch, 0, QElapsedTimer());
    auto* search = watch.table->window()->findChild<QLineEdit*>(QStringLiteral("search"));
    std::vector<double> ms;
    // Narrowing and widening free-text and port queries, one key at a time.
    for (const char* query : kQueries) {
        for (int pass = 0; pass < 2; ++pass) {
            for (const char* c = query; *c != '\0'; ++c) {
                QElapsedTimer clock;
                clock.start();
                const int before = watch.paints;
                pass == 0 ? QTest::keyClick(search, *c)
                          : QTest::keyClick(search, Qt::Key_Backspace);
                ms.push_back(untilPainted(watch, before, clock, true));
            }
        }
    }
    qApp->removeEventFilter(&watch);
    coordinator.closePanel();
    return ms;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    halvo::ui::applyStyle(app);
    {
        halvo::ProcessStore store(std::make_shared<FixedScanner>(busyRows(20)),
                                  std::make_shared<RecordingEngine>());
        openPanel(store, 30, "20 fixed rows");
    }
    {
        const halvo::testing::TempDir home;
        const auto servers = halvo::bench::standInServers(home, 5);
        const std::shared_ptr<halvo::PortScanning> scanner = halvo::makeSystemScanner();
        report("scanAll alone, this machine + 5 servers", scansAlone(*scanner, 20));
        halvo::ProcessStore store(scanner, std::make_shared<RecordingEngine>());
        openPanel(store, 20, "real scan");
    }
    {
        halvo::ProcessStore store(std::make_shared<FixedScanner>(busyRows(10'000)),
                                  std::make_shared<RecordingEngine>());
        report("keystroke -> repaint, 10,000 rows", keystrokes(store));
        report("store.setQuery alone, 10,000 rows", queryOnly(store));
    }
    halvo::HalvoKillCoordinator::shared().setStore(nullptr, nullptr);
    return 0;
}
