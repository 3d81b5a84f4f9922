// Drives the ROM list window and its opening from the header window with
// real events, in a fresh temporary working directory.
#include "checksumwin/loadedlists.h"
#include "checksumwin/tests/listfixtures.h"
#include "windowkit/directorylist.h"
#include "windowkit/drivelist.h"
#include "windowkit/filelist.h"
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"
#include "romheader/tests/lease_holder.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

#include <csignal>

using namespace kelvo;
using namespace kelvo::test;

namespace {
const char* const kBoxes[] = {"chkFile", "chkHead", "chkCart", "chkBytes", "chkSize", "chkPub"};
const QByteArray kAllCaptions =
    "Filename\tHeader\tCart ID\tSize (Bytes)\tSize (Mbit)\tPublisher\r\n";
} // namespace

class RomListWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startState();
    void firstPressCreatesSecondAppends();
    void countsOnlyBinFiles();
    void columnsFollowTheOptions_data();
    void columnsFollowTheOptions();
    void listNameColumn_data();
    void listNameColumn();
    void captionClickTogglesItsBox_data();
    void captionClickTogglesItsBox();
    void unreadableFileKeepsItsRowAndIsReported();
    void leaseWaitShowsProgressAndCancelStops();
    void unwritableListIsReportedAndWritesNothing();
    void existingListKeepsItsBytes();
    void driveChangeMovesTheDirectoryList();
    void removedDriveMovesTheListsToRoot();
    void dropsOnlyADirectory();
    void longRunShowsProgress_data();
    void longRunShowsProgress();
    void readsOnlyTheHeaders();
    void everyCaptionFits();
    void framesDrawnWhole();
    void tabOrderFollowsTheLayout();

    void backHidesAndReopeningKeepsState();
    void closingDiscardsAndReopeningStartsAfresh();
    void exitEndsTheProgram_data();
    void exitEndsTheProgram();
    void terminationEndsTheRunLeavingNothing_data();
    void terminationEndsTheRunLeavingNothing();

private:
    template <typename T> T* child(const char* name) const {
        return control<T>(window.get(), name);
    }
    QString path(const QString& name) const { return dir->filePath(name); }
    QByteArray listFile() const {
        QFile file(path("list.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void setBox(const char* name, bool checked) {
        auto* box = child<QCheckBox>(name);
        if (box->isChecked() != checked)
            QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QCOMPARE(box->isChecked(), checked);
    }
    void pressMake() { QTest::mouseClick(child<QPushButton>("cmdMake"), Qt::LeftButton); }
    std::unique_ptr<HeaderWindow> makeHeaderWindow();

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<RomListWindow> window;
    QString previousDirectory;
};

void RomListWindowTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    previousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    writeImage(path("sample.bin"));
    writeImage(path("capcom.bin"),
               {.title = "CAPCOM", .gameCode = "BPQJ", .maker = "08", .size = 3000000});
    window = std::make_unique<RomListWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void RomListWindowTest::cleanup() {
    window.reset();
    QDir::setCurrent(previousDirectory);
    dir.reset();
}

void RomListWindowTest::startState() {
    QCOMPARE(window->windowTitle(), QStringLiteral("ROM List Generator"));
    for (const char* name : kBoxes)
        QVERIFY2(child<QCheckBox>(name)->isChecked(), name);
    QVERIFY2(!child<QCheckBox>("chkList")->isChecked() && child<QCheckBox>("chkList")->isEnabled(),
             "List Name starts unticked and enabled");
    QCOMPARE(child<FileList>("File2")->Pattern(), std::string("*.bin"));
    QCOMPARE(child<DirectoryList>("Dir2")->Path(), dir->path().toStdString());
    QCOMPARE(child<FileList>("File2")->names(),
             (std::vector<std::string>{"capcom.bin", "sample.bin"}));
    QCOMPARE(RomListWindow::listFilePath(), path("list.txt").toStdString());
}

void RomListWindowTest::firstPressCreatesSecondAppends() {
    const QByteArray block = kAllCaptions +
                             "capcom.bin\tCAPCOM\tPQ\t3000000\t23Mbit\t08 - Capcom\r\n"
                             "sample.bin\tSAMPLE TITLE\tXY\t4194304\t32Mbit\t01 - Nintendo\r\n"
                             " 2 \r\n";
    QVERIFY(!QFile::exists(path("list.txt")));
    pressMake();
    QCOMPARE(listFile(), block);
    pressMake();
    QCOMPARE(listFile(), block + block);
    QCOMPARE(window->statusText(), QStringLiteral("Listed 2 files in %1").arg(path("list.txt")));
}

void RomListWindowTest::countsOnlyBinFiles() {
    QVERIFY(QFile::remove(path("sample.bin")) && QFile::remove(path("capcom.bin")));
    for (int i = 0; i < 12; ++i)
        writeImage(path(QStringLiteral("game%1.bin").arg(i)), {.size = 256});
    for (int i = 0; i < 3; ++i)
        writeImage(path(QStringLiteral("game%1.gba").arg(i)), {.size = 256});
    QApplication::setActiveWindow(window.get());
    QTest::keyClick(window.get(), Qt::Key_F5); // re-reads at once
    auto* files = child<FileList>("File2");
    QCOMPARE(files->ListCount(), 12);
    files->setListIndex(3);
    for (const char* name : kBoxes)
        setBox(name, false);
    pressMake();
    QCOMPARE(listFile(), QByteArray(" 12 \r\n"));
}

void RomListWindowTest::columnsFollowTheOptions_data() {
    QTest::addColumn<QStringList>("ticked");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("none") << QStringList{} << QByteArray(" 2 \r\n");
    QTest::newRow("name and size") << QStringList{"chkFile", "chkSize"}
                                   << QByteArray("Filename\tSize (Mbit)\r\ncapcom.bin\t23Mbit\r\n"
                                                 "sample.bin\t32Mbit\r\n 2 \r\n");
    QTest::newRow("header values only")
        << QStringList{"chkPub", "chkCart", "chkHead"}
        << QByteArray("Header\tCart ID\tPublisher\r\nCAPCOM\tPQ\t08 - Capcom\r\n"
                      "SAMPLE TITLE\tXY\t01 - Nintendo\r\n 2 \r\n");
    QTest::newRow("bytes") << QStringList{"chkBytes"}
                           << QByteArray("Size (Bytes)\r\n3000000\r\n4194304\r\n 2 \r\n");
}

void RomListWindowTest::columnsFollowTheOptions() {
    QFETCH(QStringList, ticked);
    QFETCH(QByteArray, expected);
    for (const char* name : kBoxes)
        setBox(name, ticked.contains(QString::fromLatin1(name)));
    pressMake();
    QCOMPARE(listFile(), expected);
}

void RomListWindowTest::listNameColumn_data() {
    QTest::addColumn<QStringList>("ticked");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ticked, last") << QStringList{"chkList", "chkFile"}
                                  << QByteArray("Filename\tList Name\r\ncapcom.bin\t\r\n"
                                                "good.bin\tGood Game (World).gba\r\n"
                                                "sample.bin\t\r\n"
                                                "verified.bin\tVerified Game (World).gba\r\n"
                                                " 4 \r\n");
    QTest::newRow("unticked, as without lists")
        << QStringList{"chkFile"}
        << QByteArray("Filename\r\ncapcom.bin\r\ngood.bin\r\nsample.bin\r\nverified.bin\r\n"
                      " 4 \r\n");
}

// The files' contents match, whatever their names.
void RomListWindowTest::listNameColumn() {
    QFETCH(QStringList, ticked);
    QFETCH(QByteArray, expected);
    writeImage(path("good.bin"), {.title = "GOOD", .size = 65536});
    writeImage(path("verified.bin"), {.title = "VERIFIED", .size = 65536});
    writeText(path("test.dat"), kTestList);
    writeText(path("checksum-lists"), qPrintable(path("test.dat") + "\n"));
    window.reset();
    LoadedLists lists(path("checksum-lists").toStdString(), path("hashes.sqlite3").toStdString());
    window = std::make_unique<RomListWindow>(nullptr, &lists);
    window->show();
    for (const char* name : kBoxes)
        setBox(name, ticked.contains(QString::fromLatin1(name)));
    setBox("chkList", ticked.contains("chkList"));
    window->setProgressDelay(0);
    ProgressWatcher watcher(false);
    pressMake(); // the lists are read meanwhile
    QCOMPARE(listFile(), expected);
    if (ticked.contains("chkList")) {
        QVERIFY(watcher.shown > 0 && watcher.hadCancelButton);
        QVERIFY(!lists.loading());
    }
    window.reset();
}

void RomListWindowTest::captionClickTogglesItsBox_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("box");
    QTest::newRow("Filename") << "Label1"
                              << "chkFile";
    QTest::newRow("Header") << "Label2"
                            << "chkHead";
    QTest::newRow("Cart ID") << "Label3"
                             << "chkCart";
    QTest::newRow("Size (Bytes)") << "Label4"
                                  << "chkBytes";
    QTest::newRow("Size (Mbit)") << "Label5"
                                 << "chkSize";
    QTest::newRow("Publisher") << "Label6"
                               << "chkPub";
}

void RomListWindowTest::captionClickTogglesItsBox() {
    QFETCH(QString, caption);
    QFETCH(QString, box);
    auto* label = child<QLabel>(qPrintable(caption));
    auto* check = child<QCheckBox>(qPrintable(box));
    QApplication::setActiveWindow(window.get());
    const QImage unfocused = label->grab().toImage();
    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(!check->isChecked());
    QCOMPARE(QApplication::focusWidget(), check);
    // Away and back with the keyboard: the caption shows where the focus is.
    QTest::keyClick(check, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QVERIFY2(label->grab().toImage() != unfocused, "the caption shows its box's focus");
}

void RomListWindowTest::unreadableFileKeepsItsRowAndIsReported() {
    writeImage(path("gone.bin"));
    child<FileList>("File2")->Refresh();
    QVERIFY(QFile::remove(path("gone.bin")));
    for (const char* name : kBoxes)
        setBox(name, QByteArray(name) == "chkFile" || QByteArray(name) == "chkHead");

    QSignalSpy failures(window.get(), &RomListWindow::failureReported);
    answerNextMessageBox(QMessageBox::Ok);
    pressMake();
    QCOMPARE(listFile(), QByteArray("Filename\tHeader\r\ncapcom.bin\tCAPCOM\r\ngone.bin\t\r\n"
                                    "sample.bin\tSAMPLE TITLE\r\n 3 \r\n"));
    QCOMPARE(failures.size(), 1);
    const QString report = failures.at(0).at(0).toString();
    QVERIFY2(report.contains(path("gone.bin")) && !report.contains("sample.bin"),
             qPrintable(report));
}

// Reading a file another program holds a lease on makes the run wait: its
// progress window shows meanwhile, and its Cancel stops the run.
void RomListWindowTest::leaseWaitShowsProgressAndCancelStops() {
    const pid_t holder = holdLease(path("sample.bin").toStdString(), false);
    if (holder < 0)
        QSKIP("cannot take a lease here");
    const auto endHolder = qScopeGuard([holder] {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    });
    const ProgressWatcher cancelling(true);
    answerNextMessageBox(QMessageBox::Ok); // none should open
    pressMake();
    QCOMPARE(cancelling.shown, 1);
    QCOMPARE(window->statusText(), QStringLiteral("Cancelled; nothing was written."));
    QVERIFY(!QFile::exists(path("list.txt")));
    QCOMPARE(::waitpid(holder, nullptr, WNOHANG), 0); // the wait did not outlast the holder
}

void RomListWindowTest::unwritableListIsReportedAndWritesNothing() {
    QVERIFY(QDir(dir->path()).mkdir("list.txt"));
    QSignalSpy failures(window.get(), &RomListWindow::failureReported);
    answerNextMessageBox(QMessageBox::Ok);
    pressMake();
    QCOMPARE(failures.size(), 1);
    const QString message = failures.at(0).at(0).toString();
    QVERIFY2(message.contains(path("list.txt")), qPrintable(message));
    QVERIFY(QDir(path("list.txt")).isEmpty());
    QVERIFY2(window->statusText().isEmpty(), "a failed run must not report success");
}

void RomListWindowTest::existingListKeepsItsBytes() {
    const QByteArray earlier = "an earlier line\r\n 7 \r\nno line end";
    writeBytes(path("list.txt"), {earlier.begin(), earlier.end()});
    for (const char* name : kBoxes)
        setBox(name, false);
    pressMake();
    QCOMPARE(listFile(), earlier + " 2 \r\n");
}

void RomListWindowTest::driveChangeMovesTheDirectoryList() {
    auto* drives = window->findChild<DriveList*>("Drive2");
    QVERIFY(drives);
    // The working directory lies on the second drive, so the first one opens at its root.
    drives->setDrives({"/", dir->path().toStdString()});
    drives->setDrive(dir->path().toStdString());
    QCOMPARE(child<DirectoryList>("Dir2")->Path(), dir->path().toStdString());
    drives->setDrive("/");
    QCOMPARE(child<DirectoryList>("Dir2")->Path(), std::string("/"));
    QCOMPARE(child<FileList>("File2")->Path(), std::string("/"));
    drives->setDrive(dir->path().toStdString());
    QCOMPARE(child<DirectoryList>("Dir2")->Path(), dir->path().toStdString());
}

void RomListWindowTest::removedDriveMovesTheListsToRoot() {
    auto* drives = child<DriveList>("Drive2");
    drives->setDrives({"/", dir->path().toStdString()});
    drives->setDrive(dir->path().toStdString());
    drives->setDrives({"/"}); // as a refresh after the drive was unmounted finds it
    QCOMPARE(child<DirectoryList>("Dir2")->Path(), std::string("/"));
    QCOMPARE(child<FileList>("File2")->Path(), std::string("/"));
    QVERIFY2(window->statusText().contains(dir->path()), qPrintable(window->statusText()));
}

void RomListWindowTest::dropsOnlyADirectory() {
    QVERIFY(QDir(dir->path()).mkdir("sub"));
    writeImage(path("sub/game.bin"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path("sub/game.bin"))});
    QVERIFY2(!dropOn(window.get(), data), "an image is not a directory for the lists");
    data.setUrls({QUrl::fromLocalFile(path("sub"))});
    QVERIFY(dropOn(window.get(), data));
    QCOMPARE(child<DirectoryList>("Dir2")->Path(), path("sub").toStdString());
    QCOMPARE(child<FileList>("File2")->names(), std::vector<std::string>{"game.bin"});
}

void RomListWindowTest::longRunShowsProgress_data() {
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("dialogShown");
    QTest::addColumn<bool>("listWritten");
    // A delay no run here can reach, so the row does not depend on the machine's speed.
    QTest::newRow("short run, no dialog") << 3600 * 1000 << false << false << true;
    QTest::newRow("long run, left to finish") << 0 << false << true << true;
    QTest::newRow("long run, cancelled") << 0 << true << true << false;
}

void RomListWindowTest::longRunShowsProgress() {
    QFETCH(int, delayMs);
    QFETCH(bool, cancel);
    QFETCH(bool, dialogShown);
    QFETCH(bool, listWritten);
    // Enough files for the dialog to be shown and then answered on a later check.
    constexpr int kImages = 400;
    for (int i = 0; i < kImages - 2; ++i)
        writeImage(path(QStringLiteral("game%1.bin").arg(i, 3, 10, QLatin1Char('0'))),
                   {.size = 256});
    child<FileList>("File2")->Refresh();
    const QByteArray earlier = "an earlier block\r\n";
    writeBytes(path("list.txt"), {earlier.begin(), earlier.end()});
    window->setProgressDelay(delayMs);

    ProgressWatcher watcher(cancel);
    QSignalSpy failures(window.get(), &RomListWindow::failureReported);
    pressMake();

    QCOMPARE(watcher.shown > 0, dialogShown);
    if (dialogShown) {
        QVERIFY2(watcher.hadCancelButton, "the progress dialog offers Cancel");
        QCOMPARE(watcher.maximum, kImages);
    }
    QVERIFY2(window->findChildren<QProgressDialog*>().isEmpty(), "the dialog goes with the run");
    QCOMPARE(failures.size(), 0);
    const QByteArray list = listFile();
    if (listWritten) {
        QCOMPARE(list.count("\r\n"), 1 + 1 + kImages + 1);
        QVERIFY2(list.endsWith(QByteArray(" 400 \r\n")), list.right(40).constData());
        QCOMPARE(window->statusText(),
                 QStringLiteral("Listed 400 files in %1").arg(path("list.txt")));
    } else {
        QCOMPARE(list, earlier);
        QCOMPARE(window->statusText(), QStringLiteral("Cancelled; nothing was written."));
    }
}

// Bytes this process has read through read-like system calls so far.
static qint64 bytesReadSoFar() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

void RomListWindowTest::readsOnlyTheHeaders() {
    constexpr int kImages = 20;
    for (int i = 0; i < kImages; ++i)
        writeImage(path(QStringLiteral("big%1.bin").arg(i)), {.size = 32 << 20});
    child<FileList>("File2")->Refresh();
    const qint64 before = bytesReadSoFar();
    if (before < 0)
        QSKIP("this kernel does not count the bytes a process reads");
    pressMake();
    // Reading /proc/self/io again counts too, so allow a page per image.
    const qint64 read = bytesReadSoFar() - before;
    QVERIFY2(read < kImages * 4096,
             qPrintable(QStringLiteral("Make List read %1 bytes of %2 images of 32 MiB")
                            .arg(read)
                            .arg(kImages)));
    QVERIFY(listFile().endsWith(" 22 \r\n"));
}

void RomListWindowTest::everyCaptionFits() {
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        QVERIFY2(
            label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(),
            qPrintable(QStringLiteral("%1 cuts \"%2\"").arg(label->objectName(), label->text())));
    }
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) <= contents.width(),
                 qPrintable(button->objectName()));
    }
    for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
        const QByteArray name = box->objectName().toLatin1();
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator =
            box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        QVERIFY2(box->rect().contains(indicator), name.constData());
    }
    for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(window->rect().contains(w->geometry()), qPrintable(w->objectName()));
}

// Run at each scale by CTest (QT_SCALE_FACTOR, QT_FONT_DPI).
void RomListWindowTest::framesDrawnWhole() {
    const QString unframed = unframedControls(window.get());
    QVERIFY2(unframed.isEmpty(), qPrintable(unframed));
}

void RomListWindowTest::tabOrderFollowsTheLayout() {
    QApplication::setActiveWindow(window.get());
    child<QPushButton>("cmdBack")->setFocus();
    const char* const order[] = {"chkFile", "chkHead", "chkBytes", "chkSize", "chkCart",
                                 "chkPub",  "chkList", "cmdMake",  "Dir2",    "Drive2",
                                 "File2",   "txtRom",  "cmdBack"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        QVERIFY2(focus && focus->objectName() == name,
                 qPrintable(QStringLiteral("expected %1, got %2")
                                .arg(name, focus ? focus->objectName() : "nothing")));
    }
}

std::unique_ptr<HeaderWindow> RomListWindowTest::makeHeaderWindow() {
    window.reset();
    auto header = std::make_unique<HeaderWindow>();
    header->setListWindowFactory([](QWidget* owner) { return new RomListWindow(owner); });
    header->show();
    return header;
}

void RomListWindowTest::backHidesAndReopeningKeepsState() {
    auto header = makeHeaderWindow();
    QVERIFY(!header->listWindow());
    header->showListWindow();
    QWidget* list = header->listWindow();
    QVERIFY(list && list->isVisible());
    QCOMPARE(list->parentWidget(), header.get());

    auto* dirs = list->findChild<DirectoryList*>("Dir2");
    QVERIFY(QDir(dir->path()).mkdir("sub"));
    dirs->setPath(path("sub").toStdString());
    auto* box = list->findChild<QCheckBox*>("chkCart");
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    QTest::mouseClick(list->findChild<QPushButton*>("cmdBack"), Qt::LeftButton);
    QVERIFY(!list->isVisible());

    header->showListWindow();
    QCOMPARE(header->listWindow(), list);
    QVERIFY(list->isVisible());
    QCOMPARE(dirs->Path(), path("sub").toStdString());
    QVERIFY(!box->isChecked());
    QApplication::setActiveWindow(list);
    QTest::keyClick(list, Qt::Key_Escape);
    QVERIFY2(!list->isVisible(), "Escape does what Back does");
}

void RomListWindowTest::closingDiscardsAndReopeningStartsAfresh() {
    auto header = makeHeaderWindow();
    header->showListWindow();
    QPointer<QWidget> first = header->listWindow();
    auto* box = first->findChild<QCheckBox*>("chkPub");
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    first->close();
    QTRY_VERIFY2(first.isNull(), "closing through the frame discards the window");
    QVERIFY(!header->listWindow());

    header->showListWindow();
    QVERIFY(header->listWindow());
    QVERIFY2(header->listWindow()->findChild<QCheckBox*>("chkPub")->isChecked(),
             "Form_Load ran again");
}

void RomListWindowTest::exitEndsTheProgram_data() {
    QTest::addColumn<QString>("listState");
    QTest::newRow("list window shown") << "shown";
    QTest::newRow("list window hidden") << "hidden";
    QTest::newRow("list window never opened") << "none";
}

void RomListWindowTest::exitEndsTheProgram() {
    QFETCH(QString, listState);
    auto header = makeHeaderWindow();
    if (listState != "none")
        header->showListWindow();
    if (listState == "hidden")
        QTest::mouseClick(header->listWindow()->findChild<QPushButton*>("cmdBack"), Qt::LeftButton);

    // The event loop runs until the program is told to end; a stray loop fails.
    QTimer::singleShot(0, header.get(), [&header] {
        QTest::mouseClick(header->findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!header->isVisible());
    if (header->listWindow())
        QVERIFY(!header->listWindow()->isVisible());
}

void RomListWindowTest::terminationEndsTheRunLeavingNothing_data() {
    QTest::addColumn<QString>("run");
    QTest::addColumn<int>("signal");
    QTest::newRow("copy, SIGTERM") << "copy" << SIGTERM;
    QTest::newRow("copy, SIGHUP") << "copy" << SIGHUP;
    QTest::newRow("Make List, SIGINT") << "list" << SIGINT;
    QTest::newRow("Make List, SIGTERM") << "list" << SIGTERM;
}

void RomListWindowTest::terminationEndsTheRunLeavingNothing() {
    QFETCH(QString, run);
    QFETCH(int, signal);
    writeImage(path("sample.gba"));
    const auto entries = [this] {
        return QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const QStringList before = entries();

    QProcess helper;
    helper.start(QStringLiteral(TERMINATION_HELPER), {run, dir->path()});
    QVERIFY2(helper.waitForReadyRead(30000), helper.readAllStandardError().constData());
    QCOMPARE(helper.readAllStandardOutput().trimmed(), QByteArray("running"));
    QCOMPARE(::kill(pid_t(helper.processId()), signal), 0);
    QVERIFY(helper.waitForFinished(30000));
    QVERIFY2(helper.exitStatus() == QProcess::CrashExit && helper.exitCode() == signal,
             qPrintable(QStringLiteral("the helper ended with status %1 instead of signal %2")
                            .arg(helper.exitCode())
                            .arg(signal)));
    QCOMPARE(entries(), before);
}

QTEST_MAIN(RomListWindowTest)
#include "tst_romlistwindow.moc"
