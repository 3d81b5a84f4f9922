#include "windowkit/drivelist.h"

#include "windowkit/browsing.h"
#include "windowkit/progress.h"

#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace kelvo {

namespace {

// Kernel and memory file systems: nothing a user keeps images on.
constexpr std::array<std::string_view, 24> kPseudoFileSystems = {
    "proc",     "sysfs",  "devtmpfs",  "tmpfs",    "devpts",     "cgroup",
    "cgroup2",  "mqueue", "debugfs",   "tracefs",  "securityfs", "pstore",
    "bpf",      "autofs", "hugetlbfs", "configfs", "fusectl",    "binfmt_misc",
    "squashfs", "nsfs",   "ramfs",     "efivarfs", "rpc_pipefs", "overlay",
};

[[nodiscard]] bool isPseudoFileSystem(std::string_view type) {
    return std::find(kPseudoFileSystems.begin(), kPseudoFileSystems.end(), type) !=
           kPseudoFileSystems.end();
}

// The system's own trees; removable media mounted by udisks live in
// /run/media. Container runtimes bind-mount single files into /etc (hosts,
// resolv.conf): telling a file from a directory would take a stat, which
// could wait on a dead server, so /etc is left out by name.
[[nodiscard]] bool isSystemMountPoint(std::string_view root) {
    if (holdsPath("/run/media", root))
        return false;
    return holdsPath("/proc", root) || holdsPath("/sys", root) || holdsPath("/dev", root) ||
           holdsPath("/run", root) || holdsPath("/etc", root);
}

// A field of the mount table with its escapes (\040 for a blank, \011,
// \012, \134) turned back into the bytes they stand for.
[[nodiscard]] std::string decodeMountField(std::string_view field) {
    std::string decoded;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            decoded +=
                char((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

// The whole of /proc/self/mountinfo. The kernel makes it from its own table:
// reading it asks no file system anything, so a dead server cannot stall it.
[[nodiscard]] std::string readMountTable() {
    std::string table;
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return table;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        table.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return table;
}

} // namespace

std::vector<std::string> driveRootsIn(std::string_view mountTable) {
    std::vector<std::string> others;
    while (!mountTable.empty()) {
        const std::size_t end = std::min(mountTable.find('\n'), mountTable.size());
        const std::string_view line = mountTable.substr(0, end);
        mountTable.remove_prefix(std::min(end + 1, mountTable.size()));
        // ID, parent ID, device, root, mount point, options, optional fields
        // ending at "-", then the file system's type, source and options.
        std::vector<std::string_view> fields;
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t next = std::min(line.find(' ', at), line.size());
            if (next > at)
                fields.push_back(line.substr(at, next - at));
            at = next + 1;
        }
        const auto separator = std::find(
            fields.begin() + std::min<std::ptrdiff_t>(6, std::ssize(fields)), fields.end(), "-");
        if (fields.size() < 5 || separator == fields.end() || separator + 1 == fields.end())
            continue;
        const std::string root = decodeMountField(fields[4]);
        if (root == "/" || !root.starts_with('/') || isPseudoFileSystem(*(separator + 1)) ||
            isSystemMountPoint(root))
            continue;
        others.push_back(root);
    }
    std::sort(others.begin(), others.end());
    others.erase(std::unique(others.begin(), others.end()), others.end());
    others.insert(others.begin(), "/");
    return others;
}

std::vector<std::string> mountedDriveRoots() {
    return driveRootsIn(readMountTable());
}

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (!rebuilding_)
            emit Change();
    });
    replaceRoots(mountedDriveRoots());

    // The kernel marks the mount table with an exceptional condition (POLLPRI)
    // after each mount and unmount in this process's namespace.
    mountTable_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (mountTable_ >= 0) {
        mountWatch_ = new QSocketNotifier(mountTable_, QSocketNotifier::Exception, this);
        connect(mountWatch_, &QSocketNotifier::activated, this, &DriveList::mountsChanged);
    }
}

void DriveList::mountsChanged() {
    // A long operation may be working in a directory of the selected drive:
    // the list follows once it is over.
    if (LongOperation::running()) {
        QTimer::singleShot(kProgressAfterMs, this, &DriveList::mountsChanged);
        return;
    }
    Refresh();
}

DriveList::~DriveList() {
    delete mountWatch_; // before its descriptor closes
    if (mountTable_ >= 0)
        ::close(mountTable_);
}

void DriveList::showPopup() {
    Refresh();
    QComboBox::showPopup();
}

std::string DriveList::Drive() const {
    return currentData().toByteArray().toStdString();
}

void DriveList::setDrive(const std::string& root) {
    const int index = indexOfRoot(root);
    if (index >= 0)
        setCurrentIndex(index);
}

std::string DriveList::driveOf(const std::string& path) const {
    const std::string target = normalisedPath(path);
    std::string best;
    std::size_t bestLength = 0;
    for (int i = 0; i < count(); ++i) {
        const std::string root = itemData(i).toByteArray().toStdString();
        const std::string normalRoot = normalisedPath(root);
        if (holdsPath(normalRoot, target) && (best.empty() || normalRoot.size() > bestLength)) {
            best = root;
            bestLength = normalRoot.size();
        }
    }
    return best;
}

std::string DriveList::currentDirectoryOf(const std::string& root) const {
    const std::string cwd = workingDirectory();
    if (!cwd.empty() && driveOf(cwd) == root)
        return cwd;
    return root;
}

void DriveList::Refresh() {
    replaceRoots(mountedDriveRoots());
}

void DriveList::setDrives(const std::vector<std::string>& roots) {
    replaceRoots(roots);
}

void DriveList::replaceRoots(const std::vector<std::string>& roots) {
    std::vector<std::string> listed;
    for (const std::string& root : roots) {
        if (std::find(listed.begin(), listed.end(), root) == listed.end())
            listed.push_back(root);
    }
    // Mount events come for mounts the list leaves out too; the same list stays as it is.
    if (int(listed.size()) == count()) {
        int i = 0;
        while (i < count() && itemData(i).toByteArray().toStdString() == listed[std::size_t(i)])
            ++i;
        if (i == count())
            return;
    }

    const std::string previousDrive = Drive();
    {
        const QScopedValueRollback guard(rebuilding_, true);
        clear();
        for (const std::string& root : listed)
            addItem(displayText(root), QByteArray::fromStdString(root));
        int index = indexOfRoot(previousDrive);
        if (index < 0)
            index = indexOfRoot(previousDrive.empty() ? driveOf(workingDirectory()) : "/");
        if (index < 0 && count() > 0)
            index = 0;
        setCurrentIndex(index);
    }
    // The selected drive at a new place in the list is no change: the lists
    // showing one of its directories stay there.
    if (!previousDrive.empty() && indexOfRoot(previousDrive) < 0)
        emit Removed(previousDrive);
    else if (Drive() != previousDrive)
        emit Change();
}

int DriveList::indexOfRoot(const std::string& root) const {
    if (root.empty())
        return -1;
    for (int i = 0; i < count(); ++i) {
        if (itemData(i).toByteArray().toStdString() == root)
            return i;
    }
    return -1;
}

} // namespace kelvo
