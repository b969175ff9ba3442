// While on, tells of the user's development servers that stop listening
// without Halvo ending them. It looks every two seconds with one netlink dump
// of the listening sockets; only when the user's sockets changed, and some
// are new, does it scan /proc to learn which servers hold them.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "base/defaults_store.h"
#include "kill/halvo_endings.h"
#include "scan/port_scanner.h"

namespace halvo {

inline constexpr char kNotifyServerStopsKey[] = "tavlabs.halvo.notifyServerStops";
// "true" reads as on; anything else as off: notifications are asked for.
bool loadNotifyServerStops(const DefaultsStoring& defaults);
void storeNotifyServerStops(bool on, DefaultsStoring& defaults);

class ServerStopWatch final : public QObject {
    Q_OBJECT

  public:
    using Report = std::function<void(const std::vector<PortProcess>& stopped)>;

    // `report` gets the rows that stopped in one look, together.
    ServerStopWatch(std::shared_ptr<PortScanning> scanner, std::optional<HalvoEndings> endings,
                    Report report, QObject* parent = nullptr);

    bool isOn() const { return timer_.isActive(); }
    // Off forgets what it knew, so that turning it on again starts afresh.
    void setOn(bool on);

  private:
    void look();
    // Scans for the servers behind the sockets; again when sockets appear meanwhile.
    void learn();

    std::shared_ptr<PortScanning> scanner_;
    std::optional<HalvoEndings> endings_;
    Report report_;
    QTimer timer_;
    std::set<std::pair<int64_t, uint64_t>> sockets_;  // port, inode: the user's own
    std::vector<PortProcess> known_;                  // the servers on those ports, as last scanned
    bool learning_ = false;
    bool learnAgain_ = false;
    uint64_t generation_ = 0;  // counts setOn(false), so that a late scan is dropped
};

}  // namespace halvo
