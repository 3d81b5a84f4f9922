#include "treesnapshot.h"

#include <QCryptographicHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kelvo::test {

namespace {

constexpr qint64 kHeaderBegin = 0xA0;
constexpr qint64 kHeaderEnd = 0xBE; // one past the check byte
constexpr qint64 kSmallFile = 64 * 1024;
constexpr qint64 kBlock = 1 << 20;

char typeOf(mode_t mode) {
    if (S_ISREG(mode))
        return 'f';
    if (S_ISDIR(mode))
        return 'd';
    if (S_ISLNK(mode))
        return 'l';
    if (S_ISFIFO(mode))
        return 'p';
    return '?';
}

bool readFully(int fd, char* data, qint64 size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, std::size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool allZero(const char* data, qint64 size) {
    return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, std::size_t(size - 1)) == 0);
}

// A digest of the content that is the same however the zeros are stored:
// each block that holds a non-zero byte is hashed with its offset; holes
// are skipped without reading, zero blocks after one cheap comparison. The
// header bytes are kept apart, so they are masked here.
void digestFile(int fd, NodeState& node) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> block(std::size_t(std::min(node.size, kBlock)));
    for (off_t at = 0; at < node.size;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // only a hole remains
        if (data > at)
            at = data - data % kBlock;
        const qint64 length = std::min<qint64>(kBlock, node.size - at);
        if (!readFully(fd, block.data(), length, at))
            return; // leaves the digest empty: unreadable
        if (at == 0 && node.size <= kSmallFile)
            node.content = QByteArray(block.data(), length);
        if (at < kHeaderEnd) {
            const qint64 end = std::min(kHeaderEnd, length);
            if (end > kHeaderBegin) {
                node.header = QByteArray(block.data() + kHeaderBegin, end - kHeaderBegin);
                std::fill(block.begin() + kHeaderBegin, block.begin() + end, 0);
            }
        }
        if (!allZero(block.data(), length)) {
            hash.addData(QByteArrayView(reinterpret_cast<const char*>(&at), sizeof at));
            hash.addData(QByteArrayView(block.data(), length));
        }
        at += length;
    }
    if (node.header.isEmpty() && node.size > kHeaderBegin) {
        // The header lay in a hole the loop skipped.
        node.header = QByteArray(std::min(kHeaderEnd, node.size) - kHeaderBegin, '\0');
    }
    if (node.content.isEmpty() && node.size > 0 && node.size <= kSmallFile)
        node.content = QByteArray(node.size, '\0');
    node.restDigest = hash.result();
}

void walk(const QByteArray& root, const QByteArray& relative, TreeSnapshot& snapshot) {
    const QByteArray directory = relative.isEmpty() ? root : root + '/' + relative;
    DIR* handle = ::opendir(directory.constData());
    if (handle == nullptr)
        return;
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(handle)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(handle);

    for (const QByteArray& name : names) {
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray full = root + '/' + path;
        struct stat info {};
        if (::lstat(full.constData(), &info) != 0)
            continue;
        NodeState node;
        node.type = typeOf(info.st_mode);
        node.mode = info.st_mode & 07777;
        if (node.type == 'f' || node.type == 'l')
            node.size = info.st_size;
        if (node.type == 'l') {
            std::vector<char> target(std::size_t(info.st_size) + 1);
            const ssize_t n = ::readlink(full.constData(), target.data(), target.size());
            node.linkTarget = QByteArray(target.data(), n > 0 ? n : 0);
        } else if (node.type == 'f') {
            const int fd = ::open(full.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                digestFile(fd, node);
                ::close(fd);
            }
        }
        snapshot[path] = node;
        if (node.type == 'd')
            walk(root, path, snapshot);
    }
}

QString shown(const QByteArray& path) {
    return QString::fromUtf8(path);
}

// Whether only the title bytes (header offsets 0..11) and the check byte (29) differ.
bool onlyTitleAndCheckDiffer(const NodeState& before, const NodeState& after) {
    if (before.type != 'f' || after.type != 'f' || before.size != after.size ||
        before.mode != after.mode || before.restDigest != after.restDigest ||
        before.header.size() != after.header.size())
        return false;
    for (qsizetype i = 0; i < before.header.size(); ++i) {
        const bool editable = i < 12 || i == 29;
        if (!editable && before.header[i] != after.header[i])
            return false;
    }
    return true;
}

bool onlyAppended(const NodeState& before, const NodeState& after) {
    return before.type == 'f' && after.type == 'f' && before.mode == after.mode &&
           after.size >= before.size && after.size <= kSmallFile &&
           after.content.startsWith(before.content);
}

} // namespace

TreeSnapshot snapshotTree(const QByteArray& root) {
    TreeSnapshot snapshot;
    walk(root, {}, snapshot);
    return snapshot;
}

QStringList unexpectedChanges(const TreeSnapshot& before, const TreeSnapshot& after,
                              const AllowList& allowed) {
    QStringList problems;
    const auto allowance = [&allowed](const QByteArray& path) -> const Allowed* {
        const auto it = allowed.find(path);
        return it == allowed.end() ? nullptr : &it->second;
    };
    for (const auto& [path, old] : before) {
        const auto now = after.find(path);
        if (now == after.end()) {
            problems << QStringLiteral("%1 was removed").arg(shown(path));
            continue;
        }
        if (now->second == old)
            continue;
        const Allowed* allowedChange = allowance(path);
        if (allowedChange && *allowedChange == Allowed::TitleAndCheck &&
            onlyTitleAndCheckDiffer(old, now->second))
            continue;
        if (allowedChange && *allowedChange == Allowed::Appended && onlyAppended(old, now->second))
            continue;
        problems << QStringLiteral("%1 changed (type %2 -> %3, mode %4 -> %5, size %6 -> %7)")
                        .arg(shown(path))
                        .arg(QChar::fromLatin1(old.type))
                        .arg(QChar::fromLatin1(now->second.type))
                        .arg(old.mode, 0, 8)
                        .arg(now->second.mode, 0, 8)
                        .arg(old.size)
                        .arg(now->second.size);
    }
    for (const auto& [path, node] : after) {
        if (before.count(path) != 0)
            continue;
        const Allowed* allowedChange = allowance(path);
        if (!allowedChange || *allowedChange != Allowed::Created)
            problems << QStringLiteral("%1 appeared (type %2, size %3)")
                            .arg(shown(path))
                            .arg(QChar::fromLatin1(node.type))
                            .arg(node.size);
    }
    return problems;
}

} // namespace kelvo::test
