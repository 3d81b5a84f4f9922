// The file list: which names it shows, and exactly when it raises Click.
#include "listtestsupport.h"
#include "romheader/romheader.h"
#include "testsupport.h"
#include "windowkit/browsing.h"
#include "windowkit/filelist.h"
#include "windowkit/progress.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using kelvo::FileList;

using kelvo::test::makeFiles;
using kelvo::test::toStringList;

namespace {
const char* const kImagePatterns = "*.bin ;*.gba ;*.agb";
}

class FileListTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsMatchingFilesInNameOrder_data();
    void showsMatchingFilesInNameOrder();
    void nonUtf8NameKeepsItsBytes();
    void mouseClickRaisesOneClick();
    void userSelectionRaisesOneClick_data();
    void userSelectionRaisesOneClick();
    void codeRaisesNoClick();
    void refreshKeepsSelectionAndListsNewFiles();
    void busyDirectoryIsReadAtMostTwiceASecond();
    void followsTheDisk_data();
    void followsTheDisk();
    void unreadableDirectoryChangesNothing();
    void followsAttributesOnceShown();
    void rowsAreDrawnAsTheStyleDrawsThem_data();
    void rowsAreDrawnAsTheStyleDrawsThem();
    void scrollBarsAreDrawnAsTheStyleDrawsThem();

private:
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {});
    [[nodiscard]] std::string dir() const { return tmp_->path().toStdString(); }

    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<FileList> list_;
};

void FileListTest::init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    makeFiles(tmp_->path(),
              {"b.gba", "a.bin", "A.bin", "C.AGB", "d.gba", ".hidden.gba", "notes.txt"});
    QVERIFY(QDir(tmp_->path()).mkdir("folder.gba"));
    list_ = std::make_unique<FileList>();
    list_->setObjectName("File1");
    list_->setPattern(kImagePatterns);
    list_->setPath(dir());
    list_->resize(200, 300);
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
}

void FileListTest::cleanup() {
    list_.reset();
    tmp_.reset();
}

void FileListTest::clickRow(int row, Qt::KeyboardModifiers modifiers) {
    const QRect rect = list_->visualRect(list_->model()->index(row, 0));
    QVERIFY2(rect.isValid(), "the row must be laid out");
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, modifiers, rect.center());
}

void FileListTest::showsMatchingFilesInNameOrder_data() {
    QTest::addColumn<QString>("patternList");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("image patterns")
        << kImagePatterns << QStringList{"A.bin", "a.bin", "b.gba", "C.AGB", "d.gba"};
    QTest::newRow("one pattern, other case") << "*.BIN" << QStringList{"A.bin", "a.bin"};
    QTest::newRow("every name") << "*" << QStringList{"A.bin", "a.bin", "b.gba",
                                                      "C.AGB", "d.gba", "notes.txt"};
    QTest::newRow("question marks") << "?.gba" << QStringList{"b.gba", "d.gba"};
    QTest::newRow("nothing matches") << "*.zip" << QStringList{};
}

void FileListTest::showsMatchingFilesInNameOrder() {
    QFETCH(QString, patternList);
    QFETCH(QStringList, expected);

    list_->setPattern(patternList.toStdString());
    QCOMPARE(toStringList(list_->names()), expected);
    QCOMPARE(list_->ListCount(), expected.size());
    QStringList shown;
    for (int row = 0; row < list_->model()->rowCount(); ++row)
        shown << list_->model()->index(row, 0).data().toString();
    QCOMPARE(shown, expected);
}

void FileListTest::nonUtf8NameKeepsItsBytes() {
    const std::string name = "caf\xE9.gba"; // Latin-1, not valid UTF-8
    const std::string path = kelvo::joinPath(dir(), name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    QVERIFY2(fd >= 0, "QFile cannot name it: its names are Unicode");
    ::close(fd);
    const auto removeIt = qScopeGuard([&] { ::unlink(path.c_str()); }); // nor remove it
    list_->Refresh();

    const auto& names = list_->names();
    const auto it = std::find(names.begin(), names.end(), name);
    QVERIFY2(it != names.end(), "the raw name must be listed");
    const int row = int(it - names.begin());
    clickRow(row);
    QCOMPARE(list_->FileName(), name);
    QVERIFY2(list_->model()->index(row, 0).data().toString().startsWith("caf"),
             "the name is shown, its bad byte replaced");
}

void FileListTest::mouseClickRaisesOneClick() {
    QSignalSpy clicks(list_.get(), &FileList::Click);

    clickRow(2);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(list_->FileName(), std::string("b.gba"));

    clickRow(2);
    QCOMPARE(clicks.count(), 2); // the window re-reads the same file
    QCOMPARE(list_->FileName(), std::string("b.gba"));

    clickRow(2, Qt::ControlModifier);
    QCOMPARE(clicks.count(), 3);
    QCOMPARE(list_->FileName(), std::string("b.gba")); // Ctrl+click does not deselect

    clickRow(0);
    QCOMPARE(clicks.count(), 4);
    QCOMPARE(list_->FileName(), std::string("A.bin"));
    QCOMPARE(list_->ListIndex(), 0);

    const QRect last = list_->visualRect(list_->model()->index(list_->ListCount() - 1, 0));
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, last.center() + QPoint(0, 100));
    QCOMPARE(clicks.count(), 4); // below the last name
    QCOMPARE(list_->FileName(), std::string("A.bin"));

    // Dragging with the button held selects each name passed over.
    const auto centre = [&](int row) {
        return list_->visualRect(list_->model()->index(row, 0)).center();
    };
    QTest::mousePress(list_->viewport(), Qt::LeftButton, {}, centre(1));
    QTest::mouseMove(list_->viewport(), centre(3));
    QTest::mouseRelease(list_->viewport(), Qt::LeftButton, {}, centre(3));
    QCOMPARE(list_->FileName(), std::string("C.AGB"));
    QCOMPARE(clicks.count(), 6);
}

void FileListTest::userSelectionRaisesOneClick_data() {
    QTest::addColumn<int>("startRow");
    QTest::addColumn<int>("key");         // 0: one of the inputs below instead
    QTest::addColumn<QString>("commit");  // an input method's commit, typed into the list
    QTest::addColumn<int>("toggledCell"); // a screen reader's toggle on this row
    QTest::addColumn<int>("expectedRow");

    // Names: A.bin, a.bin, b.gba, C.AGB, d.gba; été.gba joins for the commits.
    QTest::newRow("down") << 0 << int(Qt::Key_Down) << QString() << -1 << 1;
    QTest::newRow("up") << 2 << int(Qt::Key_Up) << QString() << -1 << 1;
    QTest::newRow("end") << 0 << int(Qt::Key_End) << QString() << -1 << 4;
    QTest::newRow("home") << 3 << int(Qt::Key_Home) << QString() << -1 << 0;
    QTest::newRow("page down") << 0 << int(Qt::Key_PageDown) << QString() << -1 << 4;
    QTest::newRow("letter jumps") << 0 << int(Qt::Key_C) << QString() << -1 << 3;
    QTest::newRow("up at the top stays") << 0 << int(Qt::Key_Up) << QString() << -1 << 0;
    QTest::newRow("down at the end stays") << 4 << int(Qt::Key_Down) << QString() << -1 << 4;
    QTest::newRow("input method commit") << 0 << 0 << QString::fromUtf8("é") << -1 << 5;
    QTest::newRow("dead key or compose commit") << 5 << 0 << "b" << -1 << 2;
    QTest::newRow("accessibility toggle") << 0 << 0 << QString() << 3 << 3;
}

void FileListTest::userSelectionRaisesOneClick() {
    QFETCH(int, startRow);
    QFETCH(int, key);
    QFETCH(QString, commit);
    QFETCH(int, toggledCell);
    QFETCH(int, expectedRow);

    if (!commit.isEmpty()) {
        makeFiles(tmp_->path(), {QString::fromUtf8("été.gba")});
        list_->Refresh();
    }
    clickRow(startRow);
    QSignalSpy clicks(list_.get(), &FileList::Click);
    if (key != 0) {
        QTest::keyClick(list_.get(), Qt::Key(key));
    } else if (!commit.isEmpty()) {
        QInputMethodEvent event;
        event.setCommitString(commit);
        QApplication::sendEvent(list_.get(), &event);
    } else {
        QAccessibleInterface* cell =
            QAccessible::queryAccessibleInterface(list_.get())->child(toggledCell);
        QVERIFY(cell && cell->actionInterface());
        cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    }
    QCOMPARE(list_->ListIndex(), expectedRow);
    QCOMPARE(list_->FileName(), list_->names()[std::size_t(expectedRow)]);
    QCOMPARE(clicks.count(), expectedRow == startRow ? 0 : 1);
}

void FileListTest::codeRaisesNoClick() {
    QSignalSpy clicks(list_.get(), &FileList::Click);
    list_->setListIndex(3);
    QCOMPARE(list_->FileName(), std::string("C.AGB"));
    list_->Refresh();
    QCOMPARE(list_->FileName(), std::string("C.AGB"));
    list_->setPath(dir());
    QCOMPARE(list_->FileName(), std::string()); // pointing at a directory clears the selection
    QCOMPARE(list_->ListIndex(), -1);
    list_->setPattern("*.gba");
    list_->setListIndex(-1);
    QCOMPARE(clicks.count(), 0);
}

void FileListTest::refreshKeepsSelectionAndListsNewFiles() {
    QSignalSpy clicks(list_.get(), &FileList::Click);
    clickRow(2);
    QCOMPARE(list_->FileName(), std::string("b.gba"));

    makeFiles(tmp_->path(), {"B.bin", "0.gba"});
    list_->Refresh();
    QCOMPARE(toStringList(list_->names()),
             (QStringList{"0.gba", "A.bin", "a.bin", "B.bin", "b.gba", "C.AGB", "d.gba"}));
    QCOMPARE(list_->FileName(), std::string("b.gba"));
    QCOMPARE(list_->ListIndex(), 4);

    QVERIFY(QFile::remove(tmp_->path() + "/b.gba"));
    list_->Refresh();
    QCOMPARE(list_->FileName(), std::string()); // the selected file is gone
    QCOMPARE(clicks.count(), 1);
}

void FileListTest::busyDirectoryIsReadAtMostTwiceASecond() {
    clickRow(2);
    QSignalSpy clicks(list_.get(), &FileList::Click);
    QSignalSpy rereads(list_.get(), &FileList::Refreshed);
    QElapsedTimer writing;
    writing.start();
    int written = 0;
    while (writing.elapsed() < 2000) { // a writer adding a file every 20 ms
        makeFiles(tmp_->path(), {QStringLiteral("new%1.gba").arg(written++)});
        QTest::qWait(20);
    }
    const qint64 elapsed = writing.elapsed();
    const qsizetype whileWriting = rereads.count();
    QTRY_COMPARE(list_->ListCount(), 5 + written);
    QVERIFY2(whileWriting >= 2, "changes without pause must not hold the re-reads back");
    // At most two a second, as the README promises, and the first.
    QVERIFY2(rereads.count() <= 2 * elapsed / 1000 + 2,
             qPrintable(QStringLiteral("%1 re-reads in %2 ms").arg(rereads.count()).arg(elapsed)));
    QCOMPARE(list_->FileName(), std::string("b.gba"));
    QCOMPARE(clicks.count(), 0);
}

void FileListTest::followsTheDisk_data() {
    QTest::addColumn<QByteArray>("directory"); // made in the test's directory; native bytes
    QTest::addColumn<int>("watchError");       // the kernel refuses the watch with it
    QTest::addColumn<bool>("longOperation");   // one runs while the file appears
    QTest::newRow("UTF-8 name") << QByteArray("roms") << 0 << false;
    QTest::newRow("name not UTF-8") << QByteArray("caf\xE9") << 0 << false;
    QTest::newRow("out of watches: told once, F5 re-reads")
        << QByteArray("roms") << ENOSPC << false;
    QTest::newRow("held back during a long operation") << QByteArray("roms") << 0 << true;
}

void FileListTest::followsTheDisk() {
    QFETCH(QByteArray, directory);
    QFETCH(int, watchError);
    QFETCH(bool, longOperation);
    const std::string path = kelvo::joinPath(dir(), directory.toStdString());
    QVERIFY(::mkdir(path.c_str(), 0755) == 0);
    const std::string file = kelvo::joinPath(path, "new.gba");
    // QTemporaryDir cannot remove a name a QString cannot hold.
    const auto removeThem = qScopeGuard([&] {
        ::unlink(file.c_str());
        ::rmdir(path.c_str());
    });
    QSignalSpy notFollowed(list_.get(), &FileList::notFollowed);
    QSignalSpy rereads(list_.get(), &FileList::Refreshed);
    {
        std::optional<kelvo::test::WatchFault> fault;
        if (watchError != 0)
            fault.emplace(watchError);
        list_->setPath(path);
        list_->setPattern(kImagePatterns); // watches the same directory again
    }
    std::optional<kelvo::LongOperation> operation;
    if (longOperation)
        operation.emplace();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);
    if (watchError != 0 || longOperation) {
        QTest::qWait(1200);
        QCOMPARE(list_->ListCount(), 0);
        QCOMPARE(rereads.count(), 0);
    }
    if (watchError != 0) {
        QCOMPARE(notFollowed.count(), 1);
        const QString message = notFollowed.at(0).at(0).toString();
        QVERIFY2(message.startsWith(kelvo::displayText("Changes in \"" + directory.toStdString() +
                                                       "\" are not followed; F5 re-reads it")) &&
                     message.contains("fs.inotify.max_user_watches") && message.contains("F5"),
                 qPrintable(message));
        list_->Refresh(); // what F5 does
    }
    operation.reset();
    QTRY_COMPARE(list_->ListCount(), 1);
    QCOMPARE(notFollowed.count(), watchError != 0 ? 1 : 0);
}

void FileListTest::unreadableDirectoryChangesNothing() {
    clickRow(1);
    const std::string missing = dir() + "/missing";
    try {
        list_->setPath(missing);
        QFAIL("pointing at a missing directory must throw");
    } catch (const kelvo::FileError& e) {
        QVERIFY2(std::string(e.what()).find(missing) != std::string::npos, e.what());
    }
    QCOMPARE(list_->Path(), dir());
    QCOMPARE(list_->ListCount(), 5);
    QCOMPARE(list_->FileName(), std::string("a.bin"));

    // A directory removed under the list: Refresh fails and keeps what is shown.
    QVERIFY(tmp_->remove());
    QVERIFY_THROWS_EXCEPTION(kelvo::FileError, list_->Refresh());
    QCOMPARE(list_->ListCount(), 5);
    QCOMPARE(list_->FileName(), std::string("a.bin"));
}

void FileListTest::followsAttributesOnceShown() {
    QSignalSpy rereads(list_.get(), &FileList::Refreshed);
    // Changed again until a change is followed: the directory's attributes
    // are watched a moment after its rows are painted.
    const QByteArray path = QFile::encodeName(tmp_->path());
    mode_t mode = 0750;
    QTRY_VERIFY(::chmod(path.constData(), mode ^= 0005) == 0 && rereads.count() >= 1);
}

void FileListTest::rowsAreDrawnAsTheStyleDrawsThem_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("rightToLeft");
    QTest::addColumn<bool>("focused");

    QTest::newRow("Fusion") << "Fusion" << 200 << false << false;
    QTest::newRow("Fusion, long names elided, focused") << "Fusion" << 110 << false << true;
    QTest::newRow("Fusion, right to left, focused") << "Fusion" << 200 << true << true;
    QTest::newRow("Windows, long names elided, focused") << "Windows" << 110 << false << true;
    QTest::newRow("Windows, right to left, elided") << "Windows" << 110 << true << false;
}

void FileListTest::rowsAreDrawnAsTheStyleDrawsThem() {
    QFETCH(QString, style);
    QFETCH(int, width);
    QFETCH(bool, rightToLeft);
    QFETCH(bool, focused);

    makeFiles(tmp_->path(), {"Advance Racer 000042 (En,Fr,De).gba"});
    const std::string latin1 = kelvo::joinPath(dir(), "caf\xE9 (Europe).gba"); // shown with U+FFFD
    const int fd = ::open(latin1.c_str(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);
    const auto removeIt = qScopeGuard([&] { ::unlink(latin1.c_str()); });
    QStyle* look = QStyleFactory::create(style);
    QVERIFY(look);
    look->setParent(list_.get());
    list_->setStyle(look);
    list_->setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    list_->resize(width, 200);
    list_->Refresh();
    list_->setListIndex(1);
    if (focused) {
        list_->activateWindow();
        list_->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(list_.get()));
    }

    const auto [ours, styles] = kelvo::test::rowsBothWays(list_.get());
    QCOMPARE(ours, styles);
}

void FileListTest::scrollBarsAreDrawnAsTheStyleDrawsThem() {
    QStringList names;
    for (int i = 0; i < 60; ++i)
        names << QStringLiteral("Zoo Keeper %1 (En,Fr,De) (Rev 1).gba").arg(i); // listed last
    makeFiles(tmp_->path(), names);
    list_->Refresh();
    for (QScrollBar* bar : {list_->verticalScrollBar(), list_->horizontalScrollBar()}) {
        QTRY_VERIFY2(bar->isVisible(), "the names must overflow the list both ways");
        bar->setValue(bar->maximum() / 2);
        QStyle* own = bar->style();
        if (qstrcmp(QApplication::style()->metaObject()->className(), "QFusionStyle") == 0)
            QVERIFY2(own != QApplication::style(), "Fusion's grooves come from the cache");
        const QImage ours = bar->grab().toImage();
        bar->setStyle(QApplication::style());
        const QImage styles = bar->grab().toImage();
        bar->setStyle(own);
        QCOMPARE(ours, styles);
    }
}

QTEST_MAIN(FileListTest)
#include "tst_filelist.moc"
