// The drive list: which drive holds a path, a drive's current directory, and
// one Change per change of selection.
#include "windowkit/drivelist.h"
#include "windowkit/progress.h"
#include "listtestsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using kelvo::DriveList;

class DriveListTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void driveOf_data();
    void driveOf();
    void currentDirectoryOf_data();
    void currentDirectoryOf();
    void changeRaisedOncePerSelectionChange();
    void replacingDrivesKeepsTheSelection();
    void mountedRootsAreRealVolumesInPathOrder();
    void mountTableRows_data();
    void mountTableRows();
    void deadMountIsNeverWaitedOn();
    void mountsWaitForLongOperations();
    void startsOnDriveOfWorkingDirectory();

private:
    QTemporaryDir tmp_;
    QString previousDirectory_;
    std::string dir_; // tmp_, without symbolic links
};

void DriveListTest::initTestCase() {
    QVERIFY(tmp_.isValid());
    QVERIFY(QDir(tmp_.path()).mkpath("card/roms"));
    QVERIFY(QDir(tmp_.path()).mkpath("cards"));
    dir_ = QFileInfo(tmp_.path()).canonicalFilePath().toStdString();
    // The working directory is on the drive "<tmp>/card".
    previousDirectory_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QString::fromStdString(dir_ + "/card/roms")));
}

void DriveListTest::cleanupTestCase() {
    QDir::setCurrent(previousDirectory_);
}

void DriveListTest::driveOf_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("drive");

    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("on root") << "/home/user"
                             << "/";
    QTest::newRow("mount point") << "/media/card"
                                 << "/media/card";
    QTest::newRow("trailing separator") << "/media/card/"
                                        << "/media/card";
    QTest::newRow("below mount point") << "/media/card/roms/a"
                                       << "/media/card";
    QTest::newRow("same prefix, other name") << "/media/cards/x"
                                             << "/";
    QTest::newRow("nested mount wins") << "/media/card/inner/x"
                                       << "/media/card/inner";
    QTest::newRow("leaves by dot-dot") << "/media/card/../other"
                                       << "/";
    QTest::newRow("relative, on working directory's drive") << "x"
                                                            << "/media/card";
}

void DriveListTest::driveOf() {
    QFETCH(QString, path);
    QFETCH(QString, drive);

    DriveList drives;
    const std::string cwdDrive = dir_ + "/card";
    drives.setDrives({"/", "/media/card", "/media/card/inner", "/mnt/usb", cwdDrive});
    const std::string expected = path == "x" ? cwdDrive : drive.toStdString();
    QCOMPARE(drives.driveOf(path.toStdString()), expected);
}

void DriveListTest::currentDirectoryOf_data() {
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("expected");

    QTest::newRow("drive holding the working directory") << "/card"
                                                         << "/card/roms";
    QTest::newRow("root, working directory elsewhere") << "/"
                                                       << "/";
    QTest::newRow("sibling named alike") << "/cards"
                                         << "/cards";
    QTest::newRow("unlisted drive") << "/card/roms"
                                    << "/card/roms";
}

void DriveListTest::currentDirectoryOf() {
    QFETCH(QString, root);
    QFETCH(QString, expected);

    DriveList drives;
    drives.setDrives({"/", dir_ + "/card", dir_ + "/cards"});
    const auto inTmp = [&](const QString& p) { return p == "/" ? "/" : dir_ + p.toStdString(); };
    QCOMPARE(drives.currentDirectoryOf(inTmp(root)), inTmp(expected));
}

void DriveListTest::changeRaisedOncePerSelectionChange() {
    DriveList drives;
    drives.setObjectName("Drive1");
    drives.setDrives({"/", "/a", "/b"});
    QSignalSpy change(&drives, &DriveList::Change);

    drives.setListIndex(2);
    QCOMPARE(change.count(), 1);
    QCOMPARE(drives.Drive(), std::string("/b"));
    drives.setListIndex(2);
    QCOMPARE(change.count(), 1); // no change, no event

    drives.setDrive("/a");
    QCOMPARE(change.count(), 2);
    QCOMPARE(drives.ListIndex(), 1);
    drives.setDrive("/not listed");
    QCOMPARE(change.count(), 2);
    QCOMPARE(drives.Drive(), std::string("/a"));

    QTest::keyClick(&drives, Qt::Key_Down);
    QCOMPARE(change.count(), 3);
    QCOMPARE(drives.Drive(), std::string("/b"));
    QTest::keyClick(&drives, Qt::Key_Down); // already the last
    QCOMPARE(change.count(), 3);
}

void DriveListTest::replacingDrivesKeepsTheSelection() {
    DriveList drives;
    drives.setDrives({"/", "/a", "/b", "/b"});
    QCOMPARE(drives.ListCount(), 3); // duplicates dropped
    drives.setDrive("/b");
    QSignalSpy change(&drives, &DriveList::Change);
    QSignalSpy removed(&drives, &DriveList::Removed);

    drives.setDrives({"/", "/a", "/b"});
    QCOMPARE(change.count(), 0); // same list, same selection
    drives.setDrives({"/", "/b", "/c"});
    QCOMPARE(drives.Drive(), std::string("/b"));
    QCOMPARE(change.count(), 0); // the same drive at a new index: the lists stay where they are
    drives.setDrive("/c");
    drives.setDrives({"/", "/b"});
    QCOMPARE(drives.Drive(), std::string("/")); // gone: the root, whatever the working directory
    QCOMPARE(change.count(), 1);                // the setDrive only
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(0).value<std::string>(), std::string("/c"));
    drives.setDrives({});
    QCOMPARE(drives.Drive(), std::string());
    QCOMPARE(drives.ListIndex(), -1);
    QCOMPARE(removed.count(), 2);
}

void DriveListTest::mountedRootsAreRealVolumesInPathOrder() {
    const std::vector<std::string> roots = kelvo::mountedDriveRoots();
    QVERIFY(!roots.empty());
    QCOMPARE(roots.front(), std::string("/"));
    QVERIFY2(std::is_sorted(roots.begin() + 1, roots.end()), "path order after the root");
    QVERIFY2(std::adjacent_find(roots.begin(), roots.end()) == roots.end(), "no duplicates");
    for (const std::string& root : roots) {
        const QString text = QString::fromStdString(root);
        for (const char* system : {"/proc", "/sys", "/dev"})
            QVERIFY2(!text.startsWith(QString(system) + '/') && text != system, root.c_str());
        QVERIFY2(!text.startsWith("/run/") || text.startsWith("/run/media/"), root.c_str());
        QVERIFY2(QFileInfo(text).isDir(), root.c_str());
    }
}

void DriveListTest::mountTableRows_data() {
    QTest::addColumn<QString>("table"); // lines of /proc/self/mountinfo; | ends one
    QTest::addColumn<QStringList>("roots");
    const QString line = "36 25 8:1 / %1 rw,relatime shared:1 - %2 /dev/sdb1 rw|";
    const auto mount = [&](const char* point, const char* type) {
        return line.arg(QString::fromUtf8(point), QString::fromLatin1(type));
    };
    QTest::newRow("root and a card")
        << mount("/", "ext4") + mount("/media/card", "vfat") << QStringList{"/", "/media/card"};
    QTest::newRow("escaped blank, tab, newline and backslash")
        << mount("/media/my\\040card", "exfat") + mount("/mnt/a\\011b\\012c\\134d", "ext4")
        << QStringList{"/", "/media/my card", "/mnt/a\tb\nc\\d"};
    QTest::newRow("a backslash not starting an escape")
        << mount("/mnt/x\\9y", "ext4") << QStringList{"/", "/mnt/x\\9y"};
    QTest::newRow("network and FUSE shares, no optional fields")
        << "40 25 0:50 / /mnt/nas rw - nfs4 nas:/ rw|41 25 0:51 / /home/u/ssh rw - fuse.sshfs "
           "u@h: rw|"
        << QStringList{"/", "/home/u/ssh", "/mnt/nas"};
    QTest::newRow("kernel, memory and system trees left out")
        << mount("/proc", "proc") + mount("/tmp", "tmpfs") + mount("/run/user/1000", "ext4") +
               mount("/etc/hosts", "ext4") + mount("/sys/fs/cgroup", "cgroup2") +
               mount("/run/media/u/CARD", "vfat")
        << QStringList{"/", "/run/media/u/CARD"};
    QTest::newRow("stacked mounts once, in path order")
        << mount("/mnt/b", "ext4") + mount("/mnt/a", "ext4") + mount("/mnt/b", "xfs")
        << QStringList{"/", "/mnt/a", "/mnt/b"};
    QTest::newRow("torn lines skipped")
        << "36 25 8:1 / /mnt/x rw|37 25|" + mount("/mnt/y", "ext4") << QStringList{"/", "/mnt/y"};
}

void DriveListTest::mountTableRows() {
    QFETCH(QString, table);
    QFETCH(QStringList, roots);
    QStringList found;
    for (const std::string& root : kelvo::driveRootsIn(table.replace('|', '\n').toStdString()))
        found << QString::fromStdString(root);
    QCOMPARE(found, roots);
}

namespace {

// Makes this process's mounts its own, so the mounts a test makes are seen
// by no other program (and their events reach no other program's lists).
QString ownMountNamespace() {
    if (::geteuid() != 0)
        return "mounting needs root";
    static const QString why = [] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return QStringLiteral("no mount namespace of its own: %1").arg(strerror(errno));
        return QString();
    }();
    return why;
}

} // namespace

// A FUSE server that never answers, as a hung sshfs or a dead NFS server is:
// listing the drives and building the list must not ask it anything.
void DriveListTest::deadMountIsNeverWaitedOn() {
    if (const QString why = ownMountNamespace(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const std::string point = dir_ + "/dead card";
    QVERIFY(QDir().mkpath(QString::fromStdString(point)));
    const int server = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (server < 0)
        QSKIP(qPrintable(QStringLiteral("no /dev/fuse: %1").arg(strerror(errno))));
    const std::string options =
        "fd=" + std::to_string(server) + ",rootmode=40000,user_id=0,group_id=0";
    if (::mount("kelvo-test", point.c_str(), "fuse.kelvo-test", MS_NOSUID | MS_NODEV,
                options.c_str()) != 0) {
        ::close(server);
        QSKIP(qPrintable(QStringLiteral("cannot mount FUSE here: %1").arg(strerror(errno))));
    }
    // Closing the server's descriptor ends every wait on the mount: the watchdog
    // does it if the list has not come back within five seconds.
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool waited = false;
    std::thread watchdog([&] {
        std::unique_lock held(lock);
        if (!finished.wait_for(held, std::chrono::seconds(5), [&] { return done; })) {
            waited = true;
            ::close(server);
        }
    });
    const std::vector<std::string> roots = kelvo::mountedDriveRoots();
    bool listed = false;
    {
        DriveList drives;
        drives.Refresh();
        listed = drives.findData(QByteArray::fromStdString(point)) >= 0;
    }
    {
        const std::lock_guard held(lock);
        done = true;
    }
    finished.notify_one();
    watchdog.join();
    ::umount2(point.c_str(), MNT_DETACH);
    if (!waited)
        ::close(server);
    QVERIFY2(!waited, "the drive list waited on a mount whose server does not answer");
    QVERIFY2(std::find(roots.begin(), roots.end(), point) != roots.end(),
             "a mount named with a blank is listed by its name");
    QVERIFY(listed);
}

// While a long operation runs, a new mount changes nothing the window shows.
void DriveListTest::mountsWaitForLongOperations() {
    if (const QString why = ownMountNamespace(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const std::string point = dir_ + "/cards";
    DriveList drives;
    const QByteArray listed = QByteArray::fromStdString(point);
    {
        const kelvo::LongOperation operation;
        QVERIFY2(::mount(dir_.c_str(), point.c_str(), nullptr, MS_BIND, nullptr) == 0,
                 strerror(errno));
        QTest::qWait(1200); // two of the list's retries
        QVERIFY2(drives.findData(listed) < 0, "the drive list changed during a long operation");
    }
    QTRY_VERIFY2(drives.findData(listed) >= 0, "the mount is listed once the operation is over");
    QVERIFY(::umount2(point.c_str(), MNT_DETACH) == 0);
    QTRY_VERIFY(drives.findData(listed) < 0);
}

void DriveListTest::startsOnDriveOfWorkingDirectory() {
    const DriveList drives;
    QVERIFY(drives.ListCount() >= 1);
    QCOMPARE(drives.Drive(), drives.driveOf(QDir::currentPath().toStdString()));
    QCOMPARE(drives.currentDirectoryOf(drives.Drive()), QDir::currentPath().toStdString());
}

QTEST_MAIN(DriveListTest)
#include "tst_drivelist.moc"
