// The checksum lists this run of the program holds images against: those the
// user configured (see checksumlists/configured.h) and those given with
// --dat for this run only. One per process, made by the program and handed to
// each window that shows list results.
//
// Lists are read on a worker thread, after the first window is drawn, so the
// program starts without waiting for them; a list file changed on disk is
// read again. What is loaded is handed out as an immutable ListSet, which
// any thread may read. The process's one hash cache lives here too, opened
// by the first worker that needs it, never by the window's thread.
#pragma once

#include "checksumlists/match.h"
#include "checksumwin/sharedcache.h"
#include "checksumwin/workerthread.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QWidget;

namespace kelvo {

class DirectoryWatch;

class LoadedLists : public QObject {
    Q_OBJECT
public:
    // One configured or given list, as the Checksum Lists dialog shows it.
    struct Entry {
        std::string path;                         // absolute
        bool thisRunOnly = false;                 // given with --dat, not in the configured file
        bool loading = true;                      // not read yet
        std::shared_ptr<const ChecksumList> list; // null while loading or when it failed
        QString problem; // why it could not be read, naming it; empty when it was
        QString reason;  // the same without the file's name: "line 3: expected ..."
    };

    // The configured file and the cache at their usual places.
    explicit LoadedLists(QObject* parent = nullptr);
    // The list of lists at `configFile`, the cache at `cacheFile` (see
    // HashCache). Reads `configFile` (a few lines) and nothing else.
    LoadedLists(std::string configFile, std::string cacheFile, QObject* parent = nullptr);
    ~LoadedLists() override;

    // Adds lists for this run only (--dat), after the configured ones;
    // relative paths are taken from the working directory.
    void addForThisRun(const std::vector<std::string>& paths);

    // Starts reading the lists, then opening the cache, on the worker thread.
    void start();
    // The same, once `window` has drawn its first frame.
    void startAfterFirstFrame(QWidget* window);

    [[nodiscard]] std::vector<Entry> entries() const;
    // Whether any list is configured or given, loaded or not.
    [[nodiscard]] bool anyListed() const { return !held_.empty(); }
    // Whether some list is still being read for the first time.
    [[nodiscard]] bool loading() const;
    // The lists read so far, in the configured order. Never null; the same
    // object until the set changes, so it can be compared.
    [[nodiscard]] std::shared_ptr<const ListSet> lists() const { return lists_; }

    // Adds `path` to the configured file (written atomically) and reads it;
    // listLoaded() tells how that went. Returns false, changing nothing,
    // when the list is configured already. Throws FileError when the
    // configured file cannot be read or written (nothing changes then).
    bool add(const std::string& path);
    // Takes `path` out of the configured file (or out of this run, for a
    // list given with --dat). Throws FileError as add() does.
    void remove(const std::string& path);

    // Waits until every list is read and the cache is open (starting both
    // if they were not), asking `goOn` about every 50 ms; false when it
    // said no. Lists read are taken in at once (changed() is raised before
    // this returns), so a caller on the window's thread whose events wait
    // still sees them.
    bool waitUntilReady(const std::function<bool()>& goOn);

    // The cache for workers to share; open it on their own thread.
    [[nodiscard]] std::shared_ptr<SharedCache> cache() const { return cache_; }
    // Raises problem() once for what went wrong with the cache, if anything
    // did since it was last told.
    void tellCacheProblem();

    [[nodiscard]] const std::string& configFile() const { return configFile_; }

signals:
    // The entries or the loaded lists changed.
    void changed();
    // A list was read (or failed to be): `problem` is empty when it was.
    void listLoaded(const QString& path, const QString& problem);
    // Something the user should hear of once, in the status line: the cache
    // cannot be used, the configured file or lists could not be read.
    void problem(const QString& message);

private:
    // The file as seen before it was read: a change shows in any field.
    struct Stamp {
        bool exists = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNs = 0, changedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Loaded {
        std::string path;
        std::uint64_t generation = 0;
        bool unchanged = false; // a look for changes found none
        Stamp stamp;
        std::shared_ptr<const ChecksumList> list;
        QString problem;
        QString reason;
    };
    struct Held {
        Entry entry;
        std::uint64_t generation = 0;        // of the latest read asked for
        Stamp stamp;                         // the file when last read
        DirectoryWatch* file = nullptr;      // its contents
        DirectoryWatch* directory = nullptr; // its directory's entries (a file renamed over it)
    };

    void append(std::string path, bool thisRunOnly);
    // Reads the entry's list afresh (`always`), or only if its file changed.
    void read(Held& held, bool always);
    void takeLoaded();
    void rebuildLists();
    void lookForChanges();
    void tellStartFailures();
    [[nodiscard]] std::vector<Held>::iterator find(const std::string& path);
    [[nodiscard]] std::vector<std::string> readConfigured() const;
    void writeConfigured(const std::vector<std::string>& paths) const;
    [[nodiscard]] static Stamp stampOf(const std::string& path);

    std::string configFile_;
    std::vector<Held> held_;
    std::shared_ptr<const ListSet> lists_;
    std::shared_ptr<SharedCache> cache_;
    QString startProblem_; // the configured file could not be read
    bool started_ = false;
    bool toldStartFailures_ = false;
    std::uint64_t nextGeneration_ = 1;

    std::mutex loadedMutex_;
    std::vector<Loaded> loaded_; // read by the worker, not yet taken in
    WorkerThread worker_;        // last: it stops before what its jobs use goes
};

} // namespace kelvo
