#include "app/server_stop_watch.h"

#include <unistd.h>

#include <QPointer>

#include <algorithm>

#include "scan/listening_sockets.h"
#include "state/thread_pool_task.h"

namespace halvo {

bool loadNotifyServerStops(const DefaultsStoring& defaults) {
    return defaults.value(kNotifyServerStopsKey) == "true";
}

void storeNotifyServerStops(bool on, DefaultsStoring& defaults) {
    defaults.setValue(kNotifyServerStopsKey, on ? "true" : "false");
}

ServerStopWatch::ServerStopWatch(std::shared_ptr<PortScanning> scanner,
                                 std::optional<HalvoEndings> endings, Report report,
                                 QObject* parent)
    : QObject(parent),
      scanner_(std::move(scanner)),
      endings_(std::move(endings)),
      report_(std::move(report)) {
    timer_.setInterval(2000);
    // A look may come late by a little; waking the processor less matters more.
    timer_.setTimerType(Qt::VeryCoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &ServerStopWatch::look);
}

void ServerStopWatch::setOn(bool on) {
    if (on == isOn()) {
        return;
    }
    if (on) {
        timer_.start();
        look();
        return;
    }
    timer_.stop();
    sockets_.clear();
    known_.clear();
    learnAgain_ = false;
    ++generation_;
}

void ServerStopWatch::look() {
    const std::optional<ListeningSockets> sockets = listeningSocketsFromNetlink();
    if (!sockets) {
        return;
    }
    const uid_t uid = getuid();
    std::set<std::pair<int64_t, uint64_t>> now;
    for (const auto& [inode, socket] : *sockets) {
        if (socket.uid == uid) {
            now.emplace(socket.port, inode);
        }
    }
    if (now == sockets_) {
        return;
    }
    const bool appeared = std::any_of(
        now.begin(), now.end(), [&](const auto& socket) { return !sockets_.contains(socket); });
    sockets_ = std::move(now);
    std::set<int64_t> ports;
    for (const auto& [port, inode] : sockets_) {
        ports.insert(port);
    }
    std::vector<PortProcess> stopped;
    std::optional<std::set<std::pair<int32_t, int64_t>>> ended;  // read once, when first needed
    std::erase_if(known_, [&](const PortProcess& row) {
        if (ports.contains(row.port)) {
            return false;
        }
        if (endings_ && !ended) {
            ended = endings_->endedLately();
        }
        if (!ended || !ended->contains({row.pid, row.port})) {
            stopped.push_back(row);
        }
        return true;
    });
    if (!stopped.empty()) {
        report_(stopped);
    }
    if (appeared) {
        learn();
    }
}

void ServerStopWatch::learn() {
    if (learning_) {
        learnAgain_ = true;
        return;
    }
    learning_ = true;
    learnAgain_ = false;
    [](QPointer<ServerStopWatch> self, std::shared_ptr<PortScanning> scanner,
       uint64_t generation) -> QCoro::Task<> {
        auto scanning = onThreadPool([scanner] { return scanner->scan(); });
        std::vector<PortProcess> rows = co_await scanning;
        if (!self) {
            co_return;
        }
        self->learning_ = false;
        if (generation == self->generation_) {
            // A server that stopped while the scan ran was not known to stop.
            std::erase_if(rows, [&](const PortProcess& row) {
                return std::none_of(self->sockets_.begin(), self->sockets_.end(),
                                    [&](const auto& socket) { return socket.first == row.port; });
            });
            self->known_ = std::move(rows);
        }
        if (self->learnAgain_) {
            self->learn();
        }
    }(this, scanner_, generation_);
}

}  // namespace halvo
