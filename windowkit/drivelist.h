// The drive list: a drop-down of the file-system roots a user browses. On
// Linux that is "/" and the mount points of real volumes (disks, memory
// cards, network shares), in path order. It follows the system's mounts while
// it lives: a card inserted or a share mounted appears, one removed goes.
#pragma once

#include <QComboBox>

class QSocketNotifier;

#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);
    ~DriveList() override;

    // The selected drive's root path ("/", "/media/card"); empty when the list is empty.
    [[nodiscard]] std::string Drive() const;
    // Selects the drive whose root is `root`; no change when it is not listed.
    void setDrive(const std::string& root);

    [[nodiscard]] int ListIndex() const { return currentIndex(); }
    void setListIndex(int index) { setCurrentIndex(index); }
    [[nodiscard]] int ListCount() const { return count(); }

    // The drive holding `path`: the listed root that is the longest prefix of it.
    [[nodiscard]] std::string driveOf(const std::string& path) const;
    // A drive's current directory: the process's working directory when it
    // lies on that drive, otherwise the drive's root.
    [[nodiscard]] std::string currentDirectoryOf(const std::string& root) const;

    // Re-reads the mounted volumes, keeping the selection when its drive is still there.
    void Refresh();
    // Replaces the listed roots (tests, and platforms with a fixed set).
    void setDrives(const std::vector<std::string>& roots);

    // Opening the list shows the mounts as they are now.
    void showPopup() override;

signals:
    // The selected drive changed, by the user or by code.
    void Change();
    // The selected drive is no longer mounted; "/" is selected now. Raised
    // instead of Change, so the window chooses where its lists go.
    void Removed(const std::string& root);

private:
    void mountsChanged();
    void replaceRoots(const std::vector<std::string>& roots);
    [[nodiscard]] int indexOfRoot(const std::string& root) const;

    bool rebuilding_ = false; // the items are being replaced; Change is raised once afterwards
    int mountTable_ = -1;     // /proc/self/mountinfo, which signals every mount and unmount
    QSocketNotifier* mountWatch_ = nullptr;
};

// The roots the drive list offers on this system, "/" first: the mount
// points of /proc/self/mountinfo that can hold a user's files. Only the
// kernel's table is read; no mounted file system is asked anything (no
// statfs, no stat), so a server that never answers cannot stall the window.
[[nodiscard]] std::vector<std::string> mountedDriveRoots();
// The same, from the text of a mount table in the form of /proc/self/mountinfo.
[[nodiscard]] std::vector<std::string> driveRootsIn(std::string_view mountTable);

} // namespace kelvo
