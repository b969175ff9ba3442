// Keeps the tray application's leave-alone list as the file says, without a
// restart: halvo-cli, the panel and a text editor all write the same file.
// The folder is watched as well as the file, since editors and halvo-cli
// replace the file rather than write into it.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>

#include <string>
#include <vector>

#include "kill/leave_alone_list.h"

namespace halvo {

class LeaveAloneWatcher final : public QObject {
    Q_OBJECT

  public:
    // Reads the list at `path` now; creates its folder so that it can be watched.
    explicit LeaveAloneWatcher(std::string path, QObject* parent = nullptr);

    const std::string& path() const { return path_; }
    const LeaveAloneList& list() const { return list_; }

  signals:
    // After the list changed; problems are logged once each time they change.
    void listChanged();

  private:
    void reload();

    std::string path_;
    QFileSystemWatcher watcher_;
    LeaveAloneList list_;
};

}  // namespace halvo
