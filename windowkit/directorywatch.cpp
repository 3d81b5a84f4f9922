#include "windowkit/directorywatch.h"

#include "windowkit/browsing.h"
#include "windowkit/progress.h"

#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QPointer>

#include <algorithm>
#include <map>

namespace kelvo {

namespace {

// One watcher (one inotify instance) for every list, living as long as the
// application: the kernel waits a grace period of some milliseconds whenever
// an instance holding watches is closed, so closing a window must not close one.
class SharedWatcher : public QFileSystemWatcher {
public:
    using QFileSystemWatcher::QFileSystemWatcher;

    static SharedWatcher* instance() {
        static QPointer<SharedWatcher> watcher;
        if (!watcher)
            watcher = new SharedWatcher(QCoreApplication::instance());
        return watcher;
    }

    // Directories are watched while any list uses them; one the kernel
    // dropped (it was removed) is watched afresh.
    void use(const QString& directory) {
        ++users_[directory];
        if (!directories().contains(directory))
            addPath(directory);
    }

    void release(const QString& directory) {
        const auto it = users_.find(directory);
        if (it == users_.end() || --it->second > 0)
            return;
        users_.erase(it);
        if (directories().contains(directory))
            removePath(directory);
    }

private:
    std::map<QString, int> users_;
};

} // namespace

DirectoryWatch::DirectoryWatch(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    connect(SharedWatcher::instance(), &QFileSystemWatcher::directoryChanged, this,
            &DirectoryWatch::noteChange);
    connect(&timer_, &QTimer::timeout, this, &DirectoryWatch::report);
}

DirectoryWatch::~DirectoryWatch() {
    if (!directory_.isEmpty())
        SharedWatcher::instance()->release(directory_);
}

void DirectoryWatch::watch(const std::string& directory) {
    const QString next = displayText(directory);
    SharedWatcher* watcher = SharedWatcher::instance();
    if (next == directory_ && watcher->directories().contains(next))
        return;
    if (!next.isEmpty())
        watcher->use(next);
    if (!directory_.isEmpty())
        watcher->release(directory_);
    directory_ = next;
    timer_.stop();
}

void DirectoryWatch::noteChange(const QString& directory) {
    if (directory != directory_ || timer_.isActive())
        return; // another list's directory, or a report already due that will show this too
    qint64 delay = kFirstDelayMs;
    if (sinceReport_.isValid())
        delay = std::max<qint64>(delay, kIntervalMs - sinceReport_.elapsed());
    timer_.start(int(delay));
}

void DirectoryWatch::report() {
    if (LongOperation::running()) {
        timer_.start(kIntervalMs); // shown once the operation is over
        return;
    }
    sinceReport_.start();
    emit changed();
}

} // namespace kelvo
