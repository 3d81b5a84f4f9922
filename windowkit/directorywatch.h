// Tells a list when its directory changes on disk, and the header window
// when the file it shows is written. Reports are throttled, not debounced:
// the first change is reported after a short delay, and while changes go on
// at most one report per interval follows, so a directory that changes
// without pause is still shown current at a bounded cost.
//
// Paths are native bytes: a directory whose name is not UTF-8 is followed
// like any other (the kernel's inotify is used directly; Qt's watcher takes
// text).
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <string>

namespace kelvo {

class DirectoryWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstDelayMs = 200;
    static constexpr int kIntervalMs = 500;
    // How long after followAttributesSoon() the attributes are followed: the
    // rest of the first paint and what the window does next come first.
    static constexpr int kAttributesDelayMs = 100;

    // What a watch follows: a directory's entries, or a file's contents.
    enum class Follow { Entries, Contents };

    explicit DirectoryWatch(QObject* parent, Follow follow = Follow::Entries);
    ~DirectoryWatch() override;

    // Watches `path` instead of what was watched before; an empty path
    // watches nothing. When the kernel refuses the watch (it ran out of
    // watches, say), notFollowed is raised, once for that path.
    //
    // A directory's entries are followed at once. Its own attributes (it
    // turning unreadable) are followed from followAttributesSoon(): adding
    // them makes the kernel walk every entry of the directory it holds in
    // memory, which for a large directory costs more than listing it, so the
    // lists ask for it once their first rows are on screen.
    void watch(const std::string& path);

    // Follows the watched directory's attributes kAttributesDelayMs from
    // now; a change that made it unreadable since watch() is reported then.
    // Does nothing once they are followed.
    void followAttributesSoon();

signals:
    void changed();
    // Changes at the watched path are not followed; the message names it,
    // the reason, and that F5 reads it again.
    void notFollowed(const QString& message);

private:
    void noteEvent(int descriptor, std::uint32_t mask);
    void followAttributes();
    void report();

    Follow follow_;
    QTimer timer_;
    QTimer attributesTimer_;
    bool attributesFollowed_ = true; // false from a directory's watch() to followAttributes()
    QElapsedTimer sinceReport_;
    std::string path_;
    int descriptor_ = -1; // the kernel's watch; -1 when none is held
    std::string refused_; // the path notFollowed was last raised for
};

} // namespace kelvo
