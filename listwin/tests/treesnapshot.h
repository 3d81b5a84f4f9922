// What a directory tree holds, taken before and after a test's actions and
// compared: every path with its type, permissions, size and content digest,
// so a byte written where the user did not ask shows.
#pragma once

#include <QByteArray>
#include <QStringList>

#include <map>

namespace kelvo::test {

struct NodeState {
    char type = '?';       // 'f' file, 'd' directory, 'l' symbolic link, 'p' FIFO, '?' other
    unsigned mode = 0;     // permission bits
    qint64 size = 0;       // files and links only
    QByteArray header;     // a file's bytes 0xA0..0xBD, as far as it reaches
    QByteArray restDigest; // SHA-256 over every other byte; empty when unreadable
    QByteArray content;    // the whole of a small file
    QByteArray linkTarget;

    bool operator==(const NodeState&) const = default;
};

// Paths relative to the root, as native bytes (names need not be UTF-8).
using TreeSnapshot = std::map<QByteArray, NodeState>;

// Never follows links and never opens anything but regular files, so FIFOs
// and devices in the tree are safe. Holes and runs of zeros cost no hashing.
[[nodiscard]] TreeSnapshot snapshotTree(const QByteArray& root);

enum class Allowed {
    TitleAndCheck, // an existing file whose bytes 0xA0..0xAB and 0xBD may differ
    Created,       // a file that did not exist before
    Appended,      // an existing file that may only have grown at its end
};
using AllowList = std::map<QByteArray, Allowed>;

// Every difference the allow-list does not cover, one sentence each.
[[nodiscard]] QStringList unexpectedChanges(const TreeSnapshot& before, const TreeSnapshot& after,
                                            const AllowList& allowed);

} // namespace kelvo::test
