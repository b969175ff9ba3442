// The desktop notification that development servers stopped listening, sent
// to org.freedesktop.Notifications on the session bus; its action opens the
// kill panel. Servers that stopped together share one notification.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <set>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

// "vite stopped listening on :5173"; for several, "3 servers stopped
// listening" over one line a server ("vite on :5173"). Names as plain text.
struct NoticeText {
    QString summary;
    QString body;
};
NoticeText stoppedServersText(const std::vector<PortProcess>& stopped);

class StoppedServerNotice final : public QObject {
    Q_OBJECT

  public:
    explicit StoppedServerNotice(std::function<void()> openPanel, QObject* parent = nullptr);

    void send(const std::vector<PortProcess>& stopped);

  private slots:
    void actionInvoked(uint id, const QString& action);

  private:
    std::function<void()> openPanel_;
    std::set<uint> sent_;  // ids the service gave our notifications
};

}  // namespace halvo
