// Faults the window tests inject: file modes that bind even a root test run,
// immutable files, and small or read-only tmpfs mounts.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace kelvo::test {

// While alive, the calling thread lacks the capabilities that let root ignore
// file modes (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER), so modes
// bind the program as they bind an ordinary user. Capabilities are per
// thread; the windows run on this one.
class ModesEnforced {
public:
    ModesEnforced();
    ~ModesEnforced();
    ModesEnforced(const ModesEnforced&) = delete;
    ModesEnforced& operator=(const ModesEnforced&) = delete;

    // Whether file modes now bind this thread.
    [[nodiscard]] bool active() const { return active_; }

private:
    struct Saved {
        std::uint32_t effective[2];
    };
    bool changed_ = false;
    bool active_ = false;
    Saved saved_{};
};

// Sets or clears the immutable attribute, which stops every write, root's
// too. Returns 0 or the errno of the refusal.
[[nodiscard]] int setImmutable(const QByteArray& path, bool immutable);

// A tmpfs mounted on an existing directory for one test; lazily unmounted
// when destroyed, so a busy mount never outlives the test.
class TmpfsMount {
public:
    TmpfsMount(const QByteArray& mountPoint, qint64 bytes);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    [[nodiscard]] bool mounted() const { return mounted_; }
    // Why mounting failed.
    [[nodiscard]] const QString& error() const { return error_; }
    // Remounts read-only; returns 0 or errno.
    [[nodiscard]] int remountReadOnly();

private:
    QByteArray mountPoint_;
    bool mounted_ = false;
    QString error_;
};

// Grows the file `fillerPath` until the file system holding it has at most
// `leaveFree` bytes free. Returns false with a reason when it cannot.
[[nodiscard]] bool fillFileSystem(const QByteArray& fillerPath, qint64 leaveFree, QString* why);

} // namespace kelvo::test
