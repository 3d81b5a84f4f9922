#include "windowkit/directorywatch.h"

#include "romheader/dirlist.h"
#include "windowkit/browsing.h"
#include "windowkit/progress.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <map>
#include <system_error>

#include <sys/inotify.h>
#include <unistd.h>

namespace kelvo {

namespace {

// Names made, removed or moved in a directory are events of the directory
// itself: watching them costs the kernel nothing per entry. IN_ATTRIB also
// reports the entries' own attributes, so adding it makes the kernel mark
// every entry it holds in memory as watched.
constexpr std::uint32_t kNamingEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kEntryEvents = kNamingEvents | IN_ATTRIB;
constexpr std::uint32_t kContentEvents = IN_MODIFY;

// One inotify instance for every watch, living as long as the application:
// the kernel waits a grace period of some milliseconds whenever an instance
// holding watches is closed, so closing a window must not close one. The
// kernel gives one watch per file for the instance, so watches of the same
// file (two lists in one directory) share it, counted.
class Inotify : public QObject {
    Q_OBJECT
public:
    static Inotify* instance() {
        if (!shared())
            shared() = new Inotify(QCoreApplication::instance());
        return shared();
    }

    // The instance while the application has one; never makes one.
    static QPointer<Inotify>& shared() {
        static QPointer<Inotify> instance;
        return instance;
    }

    ~Inotify() override {
        delete notifier_; // before its descriptor closes
        if (fd_ >= 0)
            ::close(fd_);
    }

    // The watch's descriptor, or the errno that refused it.
    struct Added {
        int descriptor = -1;
        int code = 0;
    };
    Added add(const std::string& path, std::uint32_t mask) {
        if (fd_ < 0)
            return {-1, initCode_};
        // Masks only grow: the same file watched for other events keeps those.
        const int descriptor = ::inotify_add_watch(fd_, path.c_str(), mask | IN_MASK_ADD);
        if (descriptor < 0)
            return {-1, errno};
        ++users_[descriptor];
        return {descriptor, 0};
    }

    // Adds `mask` to what the watch of `path` reports, counting no new user;
    // the watch's descriptor, or -1. A watch this adds for a file nobody
    // here watched (the path names another one now) is taken away again.
    int extend(const std::string& path, std::uint32_t mask) {
        if (fd_ < 0)
            return -1;
        const int descriptor = ::inotify_add_watch(fd_, path.c_str(), mask | IN_MASK_ADD);
        if (descriptor >= 0 && users_.find(descriptor) == users_.end())
            ::inotify_rm_watch(fd_, descriptor);
        return descriptor;
    }

    void release(int descriptor) {
        const auto it = users_.find(descriptor);
        if (it == users_.end() || --it->second > 0)
            return;
        users_.erase(it);
        ::inotify_rm_watch(fd_, descriptor);
    }

signals:
    // Something happened at the watch `descriptor`; -1 (with IN_Q_OVERFLOW)
    // when events were lost and every watch should look again. IN_IGNORED
    // says the kernel dropped the watch (its file went away).
    void event(int descriptor, std::uint32_t mask);

private:
    explicit Inotify(QObject* parent) : QObject(parent) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) {
            initCode_ = errno;
            return;
        }
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Inotify::readEvents);
    }

    void readEvents() {
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                const auto* raised = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + raised->len);
                if (raised->mask & IN_IGNORED)
                    users_.erase(raised->wd);
                emit event(raised->mask & IN_Q_OVERFLOW ? -1 : raised->wd, raised->mask);
            }
        }
    }

    int fd_ = -1;
    int initCode_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    std::map<int, int> users_; // watch descriptor -> watches sharing it
};

// Why a watch could not be added, as the status line says it.
QString refusalReason(int code) {
    if (code == ENOSPC)
        return QStringLiteral("the system's limit on watches, fs.inotify.max_user_watches, "
                              "is reached");
    if (code == EMFILE)
        return QStringLiteral("the system's limit on inotify instances is reached");
    return QString::fromStdString(std::generic_category().message(code));
}

} // namespace

DirectoryWatch::DirectoryWatch(QObject* parent, Follow follow) : QObject(parent), follow_(follow) {
    timer_.setSingleShot(true);
    attributesTimer_.setSingleShot(true);
    connect(Inotify::instance(), &Inotify::event, this, &DirectoryWatch::noteEvent);
    connect(&timer_, &QTimer::timeout, this, &DirectoryWatch::report);
    connect(&attributesTimer_, &QTimer::timeout, this, &DirectoryWatch::followAttributes);
}

DirectoryWatch::~DirectoryWatch() {
    if (descriptor_ >= 0 && Inotify::shared())
        Inotify::shared()->release(descriptor_);
}

void DirectoryWatch::watch(const std::string& path) {
    // A watch the kernel dropped (its directory was removed and made again) is added afresh.
    if (path == path_ && (descriptor_ >= 0 || path.empty()))
        return;
    Inotify* inotify = Inotify::instance();
    // The new watch first: the same directory again keeps its watch.
    Inotify::Added added;
    if (!path.empty()) {
        added = inotify->add(path, follow_ == Follow::Entries ? kNamingEvents : kContentEvents);
        // Gone or no directory: reading it fails too, and says so.
        if (added.descriptor < 0 && added.code != ENOENT && added.code != ENOTDIR &&
            refused_ != path) {
            refused_ = path;
            // Its essentials first: a long reason is cut off at the status line's end.
            const QString where = follow_ == Follow::Entries
                                      ? QStringLiteral("Changes in \"%1\" are not followed; F5 "
                                                       "re-reads it")
                                      : QStringLiteral("Changes to %1 are not followed; F5 reads "
                                                       "it again");
            emit notFollowed(
                QStringLiteral("%1 (%2).")
                    .arg(where.arg(displayText(baseName(path))), refusalReason(added.code)));
        }
    }
    if (added.descriptor >= 0)
        refused_.clear();
    if (descriptor_ >= 0)
        inotify->release(descriptor_);
    descriptor_ = added.descriptor;
    path_ = path;
    timer_.stop();
    attributesTimer_.stop();
    attributesFollowed_ = follow_ != Follow::Entries || descriptor_ < 0;
}

void DirectoryWatch::followAttributesSoon() {
    if (!attributesFollowed_ && !attributesTimer_.isActive())
        attributesTimer_.start(kAttributesDelayMs);
}

void DirectoryWatch::followAttributes() {
    if (attributesFollowed_ || descriptor_ < 0)
        return;
    attributesFollowed_ = true;
    // The path naming another directory now, or this one turned unreadable
    // since it was read: what the list shows is out of date.
    if (Inotify::instance()->extend(path_, kEntryEvents) != descriptor_ ||
        ::access(path_.c_str(), R_OK | X_OK) != 0)
        noteEvent(descriptor_, IN_ATTRIB);
}

void DirectoryWatch::noteEvent(int descriptor, std::uint32_t mask) {
    if (descriptor_ < 0 || (descriptor != descriptor_ && descriptor != -1))
        return; // another watch's
    if (mask & IN_IGNORED) {
        descriptor_ = -1; // the kernel dropped it: the next watch() adds it again
        return;
    }
    if (descriptor != -1 && !(mask & (follow_ == Follow::Entries ? kEntryEvents : kContentEvents)))
        return; // an event another watch of the same file asked for
    if (timer_.isActive())
        return; // a report already due will show this too
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

#include "directorywatch.moc"
