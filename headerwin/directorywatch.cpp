#include "headerwin/directorywatch.h"

#include "headerwin/browsing.h"

#include <algorithm>

namespace kelvo {

DirectoryWatch::DirectoryWatch(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &DirectoryWatch::noteChange);
    connect(&timer_, &QTimer::timeout, this, &DirectoryWatch::report);
}

void DirectoryWatch::watch(const std::string& directory) {
    // A directory removed on disk leaves the watcher's list by itself.
    if (directory == directory_ && !watcher_.directories().isEmpty())
        return;
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
    directory_ = directory;
    timer_.stop();
    if (!directory.empty())
        watcher_.addPath(displayText(directory));
}

void DirectoryWatch::noteChange() {
    if (timer_.isActive())
        return; // a report is already due and will show this change too
    qint64 delay = kFirstDelayMs;
    if (sinceReport_.isValid())
        delay = std::max<qint64>(delay, kIntervalMs - sinceReport_.elapsed());
    timer_.start(int(delay));
}

void DirectoryWatch::report() {
    sinceReport_.start();
    emit changed();
}

} // namespace kelvo
