#include "faultinjection.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kelvo::test {

namespace {

constexpr int kModeCapabilities[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};

struct Capabilities {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};

    bool read() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool write() { return ::syscall(SYS_capset, &header, data) == 0; }
    [[nodiscard]] bool effective(int capability) const {
        return (data[CAP_TO_INDEX(capability)].effective & CAP_TO_MASK(capability)) != 0;
    }
};

QString errorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

ModesEnforced::ModesEnforced() {
    Capabilities caps;
    if (!caps.read())
        return;
    saved_.effective[0] = caps.data[0].effective;
    saved_.effective[1] = caps.data[1].effective;
    bool any = false;
    for (const int capability : kModeCapabilities) {
        any = any || caps.effective(capability);
        caps.data[CAP_TO_INDEX(capability)].effective &= ~CAP_TO_MASK(capability);
    }
    changed_ = any && caps.write();
    Capabilities now;
    active_ = now.read() && !now.effective(CAP_DAC_OVERRIDE) &&
              !now.effective(CAP_DAC_READ_SEARCH) && !now.effective(CAP_FOWNER);
}

ModesEnforced::~ModesEnforced() {
    if (!changed_)
        return;
    Capabilities caps;
    if (!caps.read())
        return;
    caps.data[0].effective = saved_.effective[0];
    caps.data[1].effective = saved_.effective[1];
    if (!caps.write())
        qWarning("could not restore the test's capabilities: %s", std::strerror(errno));
}

int setImmutable(const QByteArray& path, bool immutable) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int flags = 0;
    int code = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        code = errno;
    } else {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
            code = errno;
    }
    ::close(fd);
    return code;
}

TmpfsMount::TmpfsMount(const QByteArray& mountPoint, qint64 bytes) : mountPoint_(mountPoint) {
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData()) == 0)
        mounted_ = true;
    else
        error_ = errorText(errno);
}

TmpfsMount::~TmpfsMount() {
    if (mounted_ && ::umount2(mountPoint_.constData(), MNT_DETACH) != 0)
        qWarning("could not unmount %s: %s", mountPoint_.constData(), std::strerror(errno));
}

int TmpfsMount::remountReadOnly() {
    if (::mount(nullptr, mountPoint_.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        return errno;
    return 0;
}

bool fillFileSystem(const QByteArray& fillerPath, qint64 leaveFree, QString* why) {
    const int fd = ::open(fillerPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = QStringLiteral("cannot create the filler: ") + errorText(errno);
        return false;
    }
    // Non-zero bytes, so no file system can store them as a hole.
    const std::vector<char> chunk(64 * 1024, 'F');
    off_t length = 0;
    int code = 0;
    for (;;) {
        const ssize_t n = ::write(fd, chunk.data(), chunk.size());
        if (n > 0) {
            length += n;
            continue;
        }
        code = n < 0 ? errno : ENOSPC;
        if (code != EINTR)
            break;
    }
    if (code != ENOSPC) {
        *why = QStringLiteral("filling stopped early: ") + errorText(code);
    } else if (::ftruncate(fd, length > leaveFree ? length - leaveFree : 0) != 0) {
        code = errno;
        *why = QStringLiteral("cannot trim the filler: ") + errorText(code);
    } else {
        code = 0;
    }
    ::close(fd);
    return code == 0;
}

} // namespace kelvo::test
