// Writes that fail part-way, driven through the windows: a full file system,
// a read-only file system and a read-only directory, met by "Rename File To
// ROM Title", "Edit Header" and "Make List". A failure must be reported
// with the place and the reason, leave no partial or temporary file, and
// leave every existing file as it was.
#include "faultinjection.h"
#include "programdriver.h"
#include "testsupport.h"
#include "treesnapshot.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <optional>

using namespace kelvo::test;

namespace {

enum class Fault { FullFileSystem, ReadOnlyFileSystem, ReadOnlyDirectory };
enum class Action { Copy, CopyReplacing, Edit, ListAppending, ListCreating };

constexpr qint64 kTmpfsBytes = 512 * 1024;
// Larger than the room left for a copy, so the copy fails part-way.
constexpr qint64 kImageBytes = 256 * 1024;
constexpr qint64 kRoomForCopy = 64 * 1024;
constexpr qint64 kPage = 4096;
const QByteArray kKeep = "notes the user keeps beside the images\n";
const QByteArray kOlderCopy = "an older copy\n";
const QByteArray kEarlierList = "an earlier list\r\n 7 \r\n";

QString errorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// An image with no hole: every byte past the header is written.
void writeSolidImage(const QString& path) {
    writeImage(path, {.size = 0xC0});
    QFile file(path);
    if (!file.open(QIODevice::Append))
        throw std::runtime_error("cannot extend " + path.toStdString());
    QByteArray pattern(int(kImageBytes - 0xC0), '\0');
    for (qsizetype i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i * 7 + 3);
    file.write(pattern);
}

} // namespace

class WriteFaultTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void failedWriteLeavesEverythingAsItWas_data();
    void failedWriteLeavesEverythingAsItWas();

private:
    QByteArray at(const char* name) const { return root + '/' + name; }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TmpfsMount> mount;
    QByteArray root;
    QString previousDirectory;
};

void WriteFaultTest::initTestCase() {
    QLocale::setDefault(QLocale::c());
}

void WriteFaultTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    root = QFile::encodeName(dir->path());
    QVERIFY(QDir(dir->path()).mkpath("w") && QDir(dir->path()).mkpath("check"));
    writeImage(QFile::decodeName(at("check/good.bin")), {.title = "GOOD SAMPLE"});
    previousDirectory = QDir::currentPath();
}

void WriteFaultTest::cleanup() {
    QDir::setCurrent(previousDirectory);
    ::chmod(at("w").constData(), 0755);
    mount.reset();
    dir.reset();
}

void WriteFaultTest::failedWriteLeavesEverythingAsItWas_data() {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("reason"); // empty: the write succeeds
    const QString full = errorText(ENOSPC);
    const QString readOnlyFs = errorText(EROFS);
    const QString denied = errorText(EACCES);

    QTest::newRow("full: copy to a new name") << Fault::FullFileSystem << Action::Copy << full;
    QTest::newRow("full: copy replacing a file (answered Yes)")
        << Fault::FullFileSystem << Action::CopyReplacing << full;
    QTest::newRow("full: edit in place needs no room")
        << Fault::FullFileSystem << Action::Edit << QString();
    QTest::newRow("full: list appended part-way")
        << Fault::FullFileSystem << Action::ListAppending << full;
    QTest::newRow("full: list created") << Fault::FullFileSystem << Action::ListCreating << full;

    QTest::newRow("read-only fs: copy") << Fault::ReadOnlyFileSystem << Action::Copy << readOnlyFs;
    QTest::newRow("read-only fs: edit") << Fault::ReadOnlyFileSystem << Action::Edit << readOnlyFs;
    QTest::newRow("read-only fs: list appended")
        << Fault::ReadOnlyFileSystem << Action::ListAppending << readOnlyFs;
    QTest::newRow("read-only fs: list created")
        << Fault::ReadOnlyFileSystem << Action::ListCreating << readOnlyFs;

    QTest::newRow("read-only dir: copy") << Fault::ReadOnlyDirectory << Action::Copy << denied;
    QTest::newRow("read-only dir: edit in place")
        << Fault::ReadOnlyDirectory << Action::Edit << QString();
    QTest::newRow("read-only dir: list appended to a writable file")
        << Fault::ReadOnlyDirectory << Action::ListAppending << QString();
    QTest::newRow("read-only dir: list created")
        << Fault::ReadOnlyDirectory << Action::ListCreating << denied;
}

void WriteFaultTest::failedWriteLeavesEverythingAsItWas() {
    QFETCH(Fault, fault);
    QFETCH(Action, action);
    QFETCH(QString, reason);
    const QByteArray work = at("w");
    const bool listing = action == Action::ListAppending || action == Action::ListCreating;

    if (fault != Fault::ReadOnlyDirectory) {
        mount = std::make_unique<TmpfsMount>(work, kTmpfsBytes);
        if (!mount->mounted())
            QSKIP(qPrintable("cannot mount a tmpfs here (" + mount->error() +
                             "): needs root outside a restricted container"));
    }
    try {
        writeSolidImage(QFile::decodeName(work + "/game.bin"));
    } catch (const std::exception& e) {
        QFAIL(e.what());
    }
    writeBytes(QFile::decodeName(work + "/keep.txt"), {kKeep.begin(), kKeep.end()});
    if (action == Action::CopyReplacing)
        writeBytes(QFile::decodeName(work + "/NEW.gba"), {kOlderCopy.begin(), kOlderCopy.end()});
    if (action == Action::ListAppending) {
        // The block fits its first 40 bytes into the last page; the rest needs
        // a page a full file system lacks, so the write stops part-way.
        const QByteArray earlier = kEarlierList.leftJustified(kPage - 40, '.');
        writeBytes(QFile::decodeName(work + "/list.txt"), {earlier.begin(), earlier.end()});
    }
    switch (fault) {
    case Fault::FullFileSystem: {
        QString why;
        const bool copying = action == Action::Copy || action == Action::CopyReplacing;
        QVERIFY2(fillFileSystem(work + "/filler", copying ? kRoomForCopy : 0, &why),
                 qPrintable(why));
        break;
    }
    case Fault::ReadOnlyFileSystem:
        if (const int code = mount->remountReadOnly())
            QSKIP(qPrintable("cannot remount the tmpfs read-only: " + errorText(code)));
        break;
    case Fault::ReadOnlyDirectory:
        QVERIFY(::chmod(work.constData(), 0555) == 0);
        break;
    }

    // The list goes to the working directory; the copy beside its image.
    QVERIFY(QDir::setCurrent(QFile::decodeName(listing ? work : root)));
    const TreeSnapshot before = snapshotTree(root);
    std::optional<ProgramDriver> program;
    {
        const ModesEnforced modes;
        if (fault == Fault::ReadOnlyDirectory && !modes.active())
            QSKIP("file modes cannot bind this root test run: dropping CAP_DAC_OVERRIDE failed");
        program.emplace();
        QStringList failures;
        QByteArray place = work + "/list.txt";
        if (listing) {
            program->pressMakeList();
        } else {
            QVERIFY2(program->browseHeaderTo(work), "the header window cannot browse in");
            QVERIFY(program->clickFile("game.bin"));
            QCOMPARE(program->shownText("lblsizembit"), QStringLiteral("2Mbit"));
            QVERIFY(program->takeFailures().isEmpty());
            program->typeTitle("NEW");
            if (action == Action::Edit) {
                QVERIFY(program->pressEdit());
                place = work + "/game.bin";
            } else {
                if (action == Action::CopyReplacing)
                    program->queueAnswer(QMessageBox::Yes);
                QVERIFY(program->pressRename());
                place = work + "/NEW.gba";
                QCOMPARE(program->questions().size(), action == Action::CopyReplacing ? 1 : 0);
            }
        }
        failures = program->takeFailures();
        if (reason.isEmpty()) {
            QVERIFY2(failures.isEmpty(), qPrintable(failures.join(" | ")));
        } else {
            QVERIFY2(failures.size() == 1,
                     qPrintable("expected one message, got: " + failures.join(" | ")));
            QVERIFY2(failures[0].contains(reason) && failures[0].contains(QFile::decodeName(place)),
                     qPrintable(QStringLiteral("the message must name %1 and say \"%2\": %3")
                                    .arg(QFile::decodeName(place), reason, failures[0])));
            if (listing)
                QVERIFY2(!program->listStatus().startsWith("Listed"),
                         "a failed list must not be reported as made");
        }

        // Still usable: a good image elsewhere shows its header.
        QVERIFY2(program->browseHeaderTo(at("check")), "the header window cannot browse on");
        QVERIFY(program->clickFile("good.bin"));
        QCOMPARE(program->shownText("txtheader"), QStringLiteral("GOOD SAMPLE"));
        QVERIFY(program->takeFailures().isEmpty());
    }
    const TreeSnapshot after = snapshotTree(root);

    AllowList allowed;
    if (reason.isEmpty() && action == Action::Edit) {
        allowed["w/game.bin"] = Allowed::TitleAndCheck;
        QCOMPARE(after.at("w/game.bin").header.left(12), QByteArray("NEW         "));
    }
    if (reason.isEmpty() && listing) {
        allowed["w/list.txt"] = Allowed::Appended;
        QVERIFY2(after.at("w/list.txt").size > before.at("w/list.txt").size, "nothing was listed");
    }
    const QStringList problems = unexpectedChanges(before, after, allowed);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
}

QTEST_MAIN(WriteFaultTest)
#include "tst_writefaults.moc"
