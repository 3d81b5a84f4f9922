// The drive list: which drive holds a path, a drive's current directory, and
// one Change per change of selection.
#include "windowkit/drivelist.h"
#include "listtestsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>

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
    QCOMPARE(change.count(), 1); // same drive, new index
    drives.setDrive("/c");
    drives.setDrives({"/", "/b"});
    QCOMPARE(drives.Drive(), std::string("/")); // gone: the root, whatever the working directory
    QCOMPARE(change.count(), 2);                // the setDrive only
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

void DriveListTest::startsOnDriveOfWorkingDirectory() {
    const DriveList drives;
    QVERIFY(drives.ListCount() >= 1);
    QCOMPARE(drives.Drive(), drives.driveOf(QDir::currentPath().toStdString()));
    QCOMPARE(drives.currentDirectoryOf(drives.Drive()), QDir::currentPath().toStdString());
}

QTEST_MAIN(DriveListTest)
#include "tst_drivelist.moc"
