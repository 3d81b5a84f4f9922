#include "checksumwin/loadedlists.h"

#include "checksumlists/configured.h"
#include "romheader/dirlist.h"
#include "windowkit/browsing.h"
#include "windowkit/directorywatch.h"
#include "windowkit/windowkit.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

namespace kelvo {

namespace {

std::int64_t nanoseconds(const struct timespec& time) {
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// Starts the lists once the window's first paint has been handled.
class AfterFirstFrame : public QObject {
public:
    AfterFirstFrame(QWidget* window, LoadedLists* lists) : QObject(lists), lists_(lists) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued: the frame is flushed to the screen before the work starts.
            QMetaObject::invokeMethod(lists_, &LoadedLists::start, Qt::QueuedConnection);
            deleteLater();
        }
        return false;
    }

private:
    LoadedLists* lists_;
};

} // namespace

LoadedLists::LoadedLists(QObject* parent)
    : LoadedLists(configuredListsPath(), HashCache::defaultFile(), parent) {}

LoadedLists::LoadedLists(std::string configFile, std::string cacheFile, QObject* parent)
    : QObject(parent), configFile_(std::move(configFile)),
      lists_(std::make_shared<const ListSet>()),
      cache_(std::make_shared<SharedCache>(std::move(cacheFile))) {
    try {
        if (!configFile_.empty()) {
            for (std::string& path : readConfiguredLists(configFile_))
                append(std::move(path), false);
        }
    } catch (const FileError& error) {
        startProblem_ = QString::fromUtf8(error.what());
    }
}

LoadedLists::~LoadedLists() = default;

void LoadedLists::addForThisRun(const std::vector<std::string>& paths) {
    for (const std::string& given : paths) {
        std::string path = normalisedPath(given);
        if (find(path) != held_.end())
            continue;
        append(std::move(path), true);
        if (started_)
            read(held_.back(), true);
    }
    if (started_)
        emit changed();
}

void LoadedLists::append(std::string path, bool thisRunOnly) {
    Held& held = held_.emplace_back();
    held.entry.path = std::move(path);
    held.entry.thisRunOnly = thisRunOnly;
}

void LoadedLists::start() {
    if (started_)
        return;
    started_ = true;
    for (Held& held : held_)
        read(held, true);
    // With lists, every image shown is hashed through the cache: open it now,
    // so that a problem with it is told at start. Without, it waits for the
    // first image hashed (Image Details), and a start touches no database.
    if (!held_.empty()) {
        worker_.post([this, cache = cache_] {
            (void)cache->open();
            QMetaObject::invokeMethod(this, &LoadedLists::tellCacheProblem, Qt::QueuedConnection);
        });
    }
    if (!startProblem_.isEmpty())
        emit problem(startProblem_);
    if (held_.empty())
        toldStartFailures_ = true;
}

void LoadedLists::startAfterFirstFrame(QWidget* window) {
    new AfterFirstFrame(window, this);
}

std::vector<LoadedLists::Entry> LoadedLists::entries() const {
    std::vector<Entry> entries;
    entries.reserve(held_.size());
    for (const Held& held : held_)
        entries.push_back(held.entry);
    return entries;
}

bool LoadedLists::loading() const {
    return std::any_of(held_.begin(), held_.end(),
                       [](const Held& held) { return held.entry.loading; });
}

std::vector<LoadedLists::Held>::iterator LoadedLists::find(const std::string& path) {
    return std::find_if(held_.begin(), held_.end(),
                        [&path](const Held& held) { return held.entry.path == path; });
}

LoadedLists::Stamp LoadedLists::stampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return {true,
            std::uint64_t(info.st_dev),
            std::uint64_t(info.st_ino),
            std::uint64_t(info.st_size),
            nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim)};
}

void LoadedLists::read(Held& held, bool always) {
    held.generation = nextGeneration_++;
    if (!held.file) {
        // Watched from the first read on, which comes after the first frame.
        held.file = new DirectoryWatch(this, DirectoryWatch::Follow::Contents);
        held.directory = new DirectoryWatch(this, DirectoryWatch::Follow::Entries);
        connect(held.file, &DirectoryWatch::changed, this, &LoadedLists::lookForChanges);
        connect(held.directory, &DirectoryWatch::changed, this, &LoadedLists::lookForChanges);
        held.file->watch(held.entry.path);
        held.directory->watch(std::filesystem::path(held.entry.path).parent_path().native());
    }
    worker_.post(
        [this, path = held.entry.path, generation = held.generation, always, before = held.stamp] {
            Loaded loaded;
            loaded.path = path;
            loaded.generation = generation;
            // Taken before the read: a change during it is seen at the next look.
            loaded.stamp = stampOf(path);
            if (!always && loaded.stamp == before) {
                loaded.unchanged = true;
            } else {
                try {
                    loaded.list = loadChecksumList(path);
                } catch (const ListError& error) {
                    loaded.problem = QString::fromUtf8(error.what());
                    std::string reason = error.member().empty() ? "" : error.member() + ": ";
                    if (error.line() > 0)
                        reason += "line " + std::to_string(error.line()) + ": ";
                    loaded.reason = QString::fromStdString(reason + error.problem());
                } catch (const FileError& error) {
                    loaded.problem = QString::fromUtf8(error.what());
                    loaded.reason = QString::fromStdString(error.reason());
                } catch (const std::exception& error) {
                    loaded.problem = loaded.reason = QString::fromUtf8(error.what());
                }
            }
            {
                const std::lock_guard lock(loadedMutex_);
                loaded_.push_back(std::move(loaded));
            }
            QMetaObject::invokeMethod(this, &LoadedLists::takeLoaded, Qt::QueuedConnection);
        });
}

void LoadedLists::takeLoaded() {
    std::vector<Loaded> taken;
    {
        const std::lock_guard lock(loadedMutex_);
        taken.swap(loaded_);
    }
    std::vector<std::pair<QString, QString>> told;
    for (Loaded& loaded : taken) {
        const auto it = find(loaded.path);
        // Removed meanwhile, or read again since.
        if (it == held_.end() || it->generation != loaded.generation || loaded.unchanged)
            continue;
        it->stamp = loaded.stamp;
        it->entry.loading = false;
        it->entry.list = std::move(loaded.list);
        it->entry.problem = loaded.problem;
        it->entry.reason = loaded.reason;
        // A file renamed over the list is another file: follow the new one.
        it->file->watch({});
        it->file->watch(it->entry.path);
        told.emplace_back(displayText(loaded.path), loaded.problem);
    }
    if (told.empty())
        return;
    rebuildLists();
    emit changed();
    for (const auto& [path, problem] : told)
        emit listLoaded(path, problem);
    if (!toldStartFailures_ && started_ && !loading())
        tellStartFailures();
}

void LoadedLists::tellStartFailures() {
    toldStartFailures_ = true;
    std::vector<const Held*> failed;
    for (const Held& held : held_) {
        if (!held.entry.problem.isEmpty())
            failed.push_back(&held);
    }
    if (failed.size() == 1)
        emit problem(QStringLiteral("The checksum list %1 could not be read; File > Checksum "
                                    "Lists... says why.")
                         .arg(displayText(baseName(failed.front()->entry.path))));
    else if (failed.size() > 1)
        emit problem(QStringLiteral("%1 checksum lists could not be read; File > Checksum "
                                    "Lists... says why.")
                         .arg(failed.size()));
}

void LoadedLists::rebuildLists() {
    std::vector<std::shared_ptr<const ChecksumList>> lists;
    for (const Held& held : held_) {
        if (held.entry.list)
            lists.push_back(held.entry.list);
    }
    if (lists != lists_->lists())
        lists_ = std::make_shared<const ListSet>(std::move(lists));
}

void LoadedLists::lookForChanges() {
    for (Held& held : held_) {
        if (!held.entry.loading)
            read(held, false);
    }
}

bool LoadedLists::waitUntilReady(const std::function<bool()>& goOn) {
    start();
    while (loading() || !cache_->ifOpen()) {
        if (!goOn())
            return false;
        (void)worker_.waitIdle(std::chrono::milliseconds(50));
        takeLoaded();
    }
    return true;
}

std::vector<std::string> LoadedLists::readConfigured() const {
    if (configFile_.empty())
        throw FileError(FileError::Kind::System, "change", "checksum-lists",
                        "There is no configuration directory: neither $XDG_CONFIG_HOME nor "
                        "$HOME is set");
    return readConfiguredLists(configFile_);
}

void LoadedLists::writeConfigured(const std::vector<std::string>& paths) const {
    writeConfiguredLists(configFile_, paths);
}

bool LoadedLists::add(const std::string& given) {
    const std::string path = normalisedPath(given);
    auto it = find(path);
    if (it != held_.end() && !it->entry.thisRunOnly)
        return false;
    // Read afresh: another instance or the user may have changed it since.
    std::vector<std::string> configured = readConfigured();
    if (std::find(configured.begin(), configured.end(), path) == configured.end()) {
        configured.push_back(path);
        writeConfigured(configured);
    }
    if (it != held_.end()) {
        it->entry.thisRunOnly = false;
    } else {
        append(path, false);
        read(held_.back(), true);
    }
    emit changed();
    return true;
}

void LoadedLists::remove(const std::string& given) {
    const std::string path = normalisedPath(given);
    const auto it = find(path);
    if (it == held_.end())
        return;
    if (!it->entry.thisRunOnly) {
        std::vector<std::string> configured = readConfigured();
        std::erase(configured, path);
        writeConfigured(configured);
    }
    delete it->file;
    delete it->directory;
    held_.erase(it);
    rebuildLists();
    emit changed();
}

void LoadedLists::tellCacheProblem() {
    if (HashCache* cache = cache_->ifOpen()) {
        if (const std::optional<std::string> message = cache->takeProblem())
            emit problem(QString::fromUtf8(*message));
    }
}

} // namespace kelvo
