#include "state/leave_alone_watcher.h"

#include <QDir>
#include <QFileInfo>

namespace halvo {

LeaveAloneWatcher::LeaveAloneWatcher(std::string path, QObject* parent)
    : QObject(parent), path_(std::move(path)) {
    const QFileInfo file(QString::fromStdString(path_));
    QDir().mkpath(file.absolutePath());
    watcher_.addPath(file.absolutePath());
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &LeaveAloneWatcher::reload);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &LeaveAloneWatcher::reload);
    reload();
}

void LeaveAloneWatcher::reload() {
    const QString file = QString::fromStdString(path_);
    // A replaced file is a new one to watch.
    if (QFileInfo::exists(file) && !watcher_.files().contains(file)) {
        watcher_.addPath(file);
    }
    LeaveAloneList list = loadLeaveAloneList(path_);
    if (list == list_) {
        return;
    }
    if (list.problems() != list_.problems()) {
        for (const std::string& problem : list.problems()) {
            qWarning("halvo: leave-alone list %s: %s; skipped", path_.c_str(), problem.c_str());
        }
    }
    list_ = std::move(list);
    emit listChanged();
}

}  // namespace halvo
