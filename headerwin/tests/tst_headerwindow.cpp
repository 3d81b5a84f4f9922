// Drives the header window through its controls with real mouse and key
// events, on images built in a fresh temporary directory.
#include "headerwin/headerwindow.h"
#include "headerwin/imagedetailsdialog.h"
#include "headerwin/wrappingbutton.h"
#include "romheader/romheader.h"
#include "romheader/tests/lease_holder.h"
#include "testsupport.h"
#include "windowkit/directorylist.h"
#include "windowkit/drivelist.h"
#include "windowkit/filelist.h"
#include "windowkit/progress.h"
#include "windowkit/windowkit.h"

#include <QAccessible>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelvo;
using namespace kelvo::test;

namespace {
const char* const kValueNames[] = {"lblsizembit", "lblsizemb", "lbladv",  "lblterritory",
                                   "lblid",       "lblman",    "lblcheck"};
}

class HeaderWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startState();
    void showsDecodedHeader_data();
    void showsDecodedHeader();
    void territoryNeverStaysFromPreviousImage();
    void directoryChangeBlanksEverything();
    void sameDirectoryAgainChangesNothing();
    void editThenCopyToTitle();
    void editKeepsValidCheckValid();
    void statusLineSaysWhatHappened_data();
    void statusLineSaysWhatHappened();
    void shownHeaderIsTheFileEditWrites();
    void listsFollowTheDisk_data();
    void listsFollowTheDisk();
    void editFailuresChangeNothing_data();
    void editFailuresChangeNothing();
    void copyAsksBeforeReplacing_data();
    void copyAsksBeforeReplacing();
    void answerActsOnlyOnTheImageStillShown_data();
    void answerActsOnlyOnTheImageStillShown();
    void copyRefusesUnsafeTitles_data();
    void copyRefusesUnsafeTitles();
    void leaseWaitShowsAndCancelLeavesNoImage();
    void failedClickIsReportedAndWindowStaysUsable();
    void titleBoxAcceptsOnlyStorableCharacters_data();
    void titleBoxAcceptsOnlyStorableCharacters();
    void everyCaptionAndValueFits();
    void framesDrawnWhole();
    void tabOrderFollowsTheLayout();
    void screenReaderNamesValuesNotCaptions();
    void exitClosesTheWindow();
    void imageDetailsShowsEveryRow_data();
    void imageDetailsShowsEveryRow();
    void imageDetailsCancelWhileReading();
    void imageDetailsReportsAVanishedImage();
    void repairHeaderAsksAndWrites_data();
    void repairHeaderAsksAndWrites();

    void opensWhatItIsGiven_data();
    void opensWhatItIsGiven();
    void droppedNameKeepsItsBytes();
    void longCopyShowsProgress_data();
    void longCopyShowsProgress();
    void drivesFollowMounts();

private:
    template <typename T> T* child(const char* name) const {
        return control<T>(window.get(), name);
    }
    QString text(const char* name) const {
        if (auto* label = window->findChild<QLabel*>(QString::fromLatin1(name)))
            return label->text();
        return child<QLineEdit>(name)->text();
    }
    QString path(const QString& name) const { return dir->filePath(name); }
    // Clicks a name as listed now; `refresh` first re-reads the directory.
    void clickFile(const QString& name, bool refresh = true);
    void openDirectory(const QString& absolutePath);
    void typeTitle(const QString& title);
    void recreateWindow();
    // Whether the Image menu's two actions are enabled (both must agree).
    bool imageMenuEnabled() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<HeaderWindow> window;
    QString previousDirectory;
};

void HeaderWindowTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    previousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    writeImage(path(QStringLiteral("sample.gba")));
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("sub")));
    recreateWindow();
}

void HeaderWindowTest::cleanup() {
    window.reset();
    QDir::setCurrent(previousDirectory);
    dir.reset();
}

void HeaderWindowTest::recreateWindow() {
    window = std::make_unique<HeaderWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

bool HeaderWindowTest::imageMenuEnabled() const {
    const bool details = child<QAction>("actImageDetails")->isEnabled();
    if (details != child<QAction>("actRepairHeader")->isEnabled())
        qFatal("Image Details and Repair Header disagree");
    return details;
}

void HeaderWindowTest::clickFile(const QString& name, bool refresh) {
    auto* list = child<FileList>("File1");
    if (refresh)
        list->Refresh();
    QVERIFY2(clickListedName(list, name.toStdString()),
             qPrintable(QStringLiteral("%1 is not listed").arg(name)));
}

void HeaderWindowTest::openDirectory(const QString& absolutePath) {
    auto* dirs = child<DirectoryList>("Dir1");
    for (int row = 0; row < dirs->ListCount(); ++row) {
        if (dirs->entryPath(row) == absolutePath.toStdString()) {
            const QModelIndex index = dirs->model()->index(row, 0);
            dirs->scrollTo(index);
            const QPoint at = dirs->visualRect(index).center();
            QTest::mouseClick(dirs->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(dirs->viewport(), Qt::LeftButton, {}, at);
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("%1 is not in the directory list").arg(absolutePath)));
}

void HeaderWindowTest::typeTitle(const QString& title) {
    typeInto(child<QLineEdit>("txtheader"), title);
}

void HeaderWindowTest::startState() {
    QCOMPARE(child<DirectoryList>("Dir1")->Path(), QDir::currentPath().toStdString());
    QCOMPARE(child<FileList>("File1")->names(), std::vector<std::string>{"sample.gba"});
    QVERIFY2(!child<QPushButton>("cmdEdit")->isEnabled(), "Edit Header must start disabled");
    QVERIFY2(!child<QPushButton>("cmdRen")->isEnabled(), "Rename must start disabled");
    QCOMPARE(window->windowTitle(), QStringLiteral("Kelvo-GBA - Kelvo By Orlan"));
    QCOMPARE(child<QGroupBox>("Frame1")->title(), QStringLiteral("IMAGE INFO"));
    QCOMPARE(child<DriveList>("Drive1")->Drive(),
             child<DriveList>("Drive1")->driveOf(QDir::currentPath().toStdString()));
    for (const char* name : kValueNames)
        QVERIFY2(text(name).isEmpty(), name);
    QVERIFY2(!imageMenuEnabled(), "the Image menu must start disabled");
}

void HeaderWindowTest::showsDecodedHeader_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("gameCode");
    QTest::addColumn<QString>("maker");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("validCheck");
    QTest::addColumn<QStringList>(
        "shown"); // title, Mbit, MB, cart ID, advance, territory, maker, check
    QTest::addColumn<QString>("company"); // the Manufacturer label's tooltip

    QTest::newRow("Nintendo, Japanese")
        << "SAMPLE TITLE"
        << "AXYJ"
        << "01" << qint64(4194304) << true
        << QStringList{"SAMPLE TITLE", "32Mbit",       "4MB",           "XY",
                       "A - Yes",      "J - Japanese", "01 - Nintendo", "Check OK"}
        << "Nintendo";
    QTest::newRow("Capcom, not advance")
        << "CAPCOM"
        << "BPQJ"
        << "08" << qint64(3000000) << true
        << QStringList{"CAPCOM", "23Mbit",       "2.875MB",     "PQ",
                       "No",     "J - Japanese", "08 - Capcom", "Check OK"}
        << "Capcom";
    QTest::newRow("unknown maker shown as is")
        << "X"
        << "AABE"
        << "7Z" << qint64(131072) << false
        << QStringList{"X", "1Mbit", "0.125MB", "AB", "A - Yes", "E - English", "7Z", "Check bad"}
        << "Unknown company";
    QTest::newRow("lower-case letters are not codes")
        << "lower"
        << "aCDj"
        << "01" << qint64(65536) << true
        << QStringList{"lower", "0Mbit", "0MB", "CD", "No", "j", "01 - Nintendo", "Check OK"}
        << "Nintendo";
    // A tab or line feed would push the rest of a label out of sight.
    QTest::newRow("control bytes show as replacement characters")
        << "CTRL"
        << "A\t\t\n"
        << "0\r" << qint64(65536) << true
        << QStringList{"CTRL",    "0Mbit",  "0MB",     "\uFFFD\uFFFD",
                       "A - Yes", "\uFFFD", "0\uFFFD", "Check OK"}
        << "Unknown company";
}

void HeaderWindowTest::showsDecodedHeader() {
    QFETCH(QString, title);
    QFETCH(QString, gameCode);
    QFETCH(QString, maker);
    QFETCH(qint64, size);
    QFETCH(bool, validCheck);
    QFETCH(QStringList, shown);
    QFETCH(QString, company);
    QLocale::setDefault(QLocale::c());
    writeImage(path("image.bin"), {title.toStdString(), gameCode.toStdString(), maker.toStdString(),
                                   size, validCheck});
    clickFile(QStringLiteral("image.bin"));

    const QStringList actual{text("txtheader"), text("lblsizembit"), text("lblsizemb"),
                             text("lblid"),     text("lbladv"),      text("lblterritory"),
                             text("lblman"),    text("lblcheck")};
    QCOMPARE(actual, shown);
    QCOMPARE(child<QLabel>("lblman")->toolTip(), company);
    QVERIFY(imageMenuEnabled());
    QVERIFY(child<QPushButton>("cmdEdit")->isEnabled());
    QVERIFY(child<QPushButton>("cmdRen")->isEnabled());
    QCOMPARE(window->currentRomPath(), path("image.bin").toStdString());
}

void HeaderWindowTest::territoryNeverStaysFromPreviousImage() {
    writeImage(path("japan.gba"), {.gameCode = "AXYJ"});
    writeImage(path("none.gba"), {.gameCode = std::string("AXY\0", 4)});
    clickFile("japan.gba");
    QCOMPARE(text("lblterritory"), QStringLiteral("J - Japanese"));
    clickFile("none.gba");
    QVERIFY2(text("lblterritory").isEmpty(),
             "a NUL territory must not keep the previous image's text");
}

void HeaderWindowTest::directoryChangeBlanksEverything() {
    clickFile("sample.gba");
    QVERIFY(!text("lblsizembit").isEmpty());
    openDirectory(path("sub"));
    QCOMPARE(child<DirectoryList>("Dir1")->Path(), path("sub").toStdString());
    QCOMPARE(child<FileList>("File1")->Path(), path("sub").toStdString());
    QVERIFY(text("txtheader").isEmpty());
    for (const char* name : kValueNames)
        QVERIFY2(text(name).isEmpty(), name);
    QVERIFY(!child<QPushButton>("cmdEdit")->isEnabled());
    QVERIFY(!child<QPushButton>("cmdRen")->isEnabled());
    QVERIFY2(!imageMenuEnabled(), "the Image menu must follow the header away");
    QVERIFY(child<QLabel>("lblman")->toolTip().isEmpty());
}

void HeaderWindowTest::sameDirectoryAgainChangesNothing() {
    clickFile("sample.gba");
    openDirectory(dir->path());
    QCOMPARE(text("lblsizembit"), QStringLiteral("32Mbit"));
    QCOMPARE(text("txtheader"), QStringLiteral("SAMPLE TITLE"));
    QVERIFY(child<QPushButton>("cmdEdit")->isEnabled());
}

void HeaderWindowTest::editThenCopyToTitle() {
    const auto before = readBytes(path("sample.gba"));
    clickFile("sample.gba");
    typeTitle("MY GAME");
    QTest::mouseClick(child<QPushButton>("cmdEdit"), Qt::LeftButton);

    const auto after = readBytes(path("sample.gba"));
    QCOMPARE(after.size(), before.size());
    const std::string written(after.begin() + 0xA0, after.begin() + 0xAC);
    QCOMPARE(written, std::string("MY GAME     "));
    for (std::size_t i = 0; i < after.size(); ++i) {
        if ((i < 0xA0 || i > 0xAB) && i != kCheckOffset && after[i] != before[i])
            QFAIL(qPrintable(QStringLiteral("byte 0x%1 changed").arg(i, 0, 16)));
    }

    QCOMPARE(window->statusText(), "Wrote \"MY GAME\" to sample.gba; check kept valid.");

    QTest::mouseClick(child<QPushButton>("cmdRen"), Qt::LeftButton);
    QCOMPARE(window->statusText(), QStringLiteral("Copied sample.gba to MY GAME.gba."));
    QCOMPARE(readBytes(path("MY GAME.gba")), after);
    QVERIFY2(QFile::exists(path("sample.gba")), "the copy must leave the source in place");
    const auto& names = child<FileList>("File1")->names();
    QVERIFY2(std::find(names.begin(), names.end(), "MY GAME.gba") != names.end(),
             "the file list must show the new copy");
}

void HeaderWindowTest::editKeepsValidCheckValid() {
    clickFile("sample.gba");
    typeTitle("MY GAME");
    QTest::mouseClick(child<QPushButton>("cmdEdit"), Qt::LeftButton);
    RomHeader reread;
    readHeader(path("sample.gba").toStdString(), reread);
    QVERIFY2(reread.checkValid(), "a valid check byte must stay valid after an edit");
    QCOMPARE(int(reread.storedCheck), 0x34);
}

void HeaderWindowTest::statusLineSaysWhatHappened_data() {
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QString>("then");
    QTest::addColumn<QString>("status"); // %1: the test's directory
    QTest::addColumn<QString>("check");  // the check label afterwards
    QTest::newRow("check left wrong")
        << "bad.gba"
        << "edit"
        << "Wrote \"MY GAME\" to bad.gba; its check was already wrong and is left as it was "
           "(\"Repair Header\" in the Image menu can mend it)."
        << "Check bad";
    // fits.gba's stored check byte is wrong for its title and right for "MY GAME".
    QTest::newRow("check made right by the title")
        << "fits.gba"
        << "edit"
        << "Wrote \"MY GAME\" to fits.gba; its wrong check byte, left as it was, is right for "
           "the new title."
        << "Check OK";
    QTest::newRow("not an image") << "demo.bin"
                                  << ""
                                  << "demo.bin does not look like a GBA image (no boot logo)."
                                  << "Check bad";
    QTest::newRow("not an image, then another directory") << "demo.bin"
                                                          << "browse"
                                                          << ""
                                                          << "";
    QTest::newRow("no logo, but the fixed value") << "sample.gba"
                                                  << ""
                                                  << ""
                                                  << "Check OK";
    QTest::newRow("shown file went away") << "sample.gba"
                                          << "remove"
                                          << "sample.gba went away; its header is no longer shown."
                                          << "";
    QTest::newRow("shown file replaced by another") << "sample.gba"
                                                    << "replace"
                                                    << "sample.gba went away; its header is no "
                                                       "longer shown."
                                                    << "";
    // Another program writes the file shown in place: its header is read
    // again (the title "REWRITTEN" leaves the check byte wrong).
    const QString changed = "sample.gba changed on disk; its header was read again.";
    QTest::newRow("rewritten in place") << "sample.gba"
                                        << "rewrite" << changed << "Check bad";
    QTest::newRow("rewritten while a title is typed")
        << "sample.gba"
        << "type, then rewrite" << changed << "Check bad";
    QTest::newRow("rewritten unfollowed, then F5")
        << "sample.gba"
        << "rewrite without watches, F5" << changed << "Check bad";
    QTest::newRow("out of watches")
        << "sample.gba"
        << "browse without watches"
        << "Changes in \"sub\" are not followed; F5 re-reads it (the system's limit on "
           "watches, fs.inotify.max_user_watches, is reached)."
        << "";
    QTest::newRow("shown directory went away")
        << "sub/inner.gba"
        << "remove"
        << "\"sub\" can no longer be read (No such file or directory); showing %1."
        << "";
}

void HeaderWindowTest::statusLineSaysWhatHappened() {
    QFETCH(QString, clicked);
    QFETCH(QString, then);
    QFETCH(QString, status);
    QFETCH(QString, check);
    writeImage(path("bad.gba"), {.validCheck = false});
    auto fits = readBytes(path("sample.gba"));
    fits[kCheckOffset] = 0x34;
    writeBytes(path("fits.gba"), fits);
    writeBytes(path("demo.bin"), std::vector<std::uint8_t>(300, 0x5A));
    writeImage(path("sub/inner.gba"));
    if (clicked.startsWith("sub/"))
        openDirectory(path("sub"));
    clickFile(QFileInfo(clicked).fileName());
    if (then == "edit") {
        typeTitle("MY GAME");
        QTest::mouseClick(child<QPushButton>("cmdEdit"), Qt::LeftButton);
    } else if (then == "remove") { // left to the lists to notice
        QVERIFY(clicked.contains('/') ? QDir(path("sub")).removeRecursively()
                                      : QFile::remove(path(clicked)));
    } else if (then.contains("rewrite")) {
        if (then.startsWith("type"))
            typeTitle("MY GAME");
        std::optional<WatchFault> noneLeft;
        if (then.contains("without watches")) {
            noneLeft.emplace(ENOSPC);
            clickFile(clicked);
            QVERIFY2(window->statusText().startsWith("Changes to sample.gba are not followed"),
                     qPrintable(window->statusText()));
        }
        QFile image(path(clicked));
        QVERIFY(image.open(QIODevice::ReadWrite) && image.seek(kTitleOffset));
        QCOMPARE(image.write("REWRITTEN\0\0\0", 12), 12);
        image.close();
        if (noneLeft) {
            QTest::qWait(700); // the lists' throttle and more: nothing is noticed
            QCOMPARE(text("txtheader"), QStringLiteral("SAMPLE TITLE"));
            QApplication::setActiveWindow(window.get());
            QTest::keyClick(window.get(), Qt::Key_F5);
        }
        QTRY_COMPARE(text("txtheader"),
                     then.startsWith("type") ? QString("MY GAME") : QString("REWRITTEN"));
    } else if (then == "browse") {
        QVERIFY(!window->statusText().isEmpty());
        openDirectory(path("sub"));
    } else if (then == "browse without watches") {
        const WatchFault noneLeft(ENOSPC);
        openDirectory(path("sub"));
    } else if (then == "replace") { // another file renamed over it, as a download finishing does
        QVERIFY(std::rename(path("bad.gba").toLocal8Bit(), path(clicked).toLocal8Bit()) == 0);
    }
    QTRY_COMPARE(window->statusText(), status.contains("%1") ? status.arg(dir->path()) : status);
    if (then == "edit") { // the program's own write is no news from the disk
        QTest::qWait(700);
        QCOMPARE(window->statusText(), status);
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(window->statusBar())->text(QAccessible::Name),
             window->statusText());
    // Hovering a menu entry (its empty status tip) leaves the line as it is.
    QStatusTipEvent hover{QString()};
    QApplication::sendEvent(window.get(), &hover);
    QCOMPARE(window->statusBar()->currentMessage().isEmpty(), window->statusText().isEmpty());
    QCOMPARE(text("lblcheck"), check);
    if (then == "remove" || then == "replace") { // as after a directory change
        QVERIFY(!child<QPushButton>("cmdEdit")->isEnabled());
        QCOMPARE(child<FileList>("File1")->Path(), dir->path().toStdString());
    }
}

// An input method's commit moves the selection as a click does (the
// file list's own tests cover every other way).
void HeaderWindowTest::shownHeaderIsTheFileEditWrites() {
    writeImage(path(QString::fromUtf8("été.gba")), {.title = "ETE"});
    clickFile("sample.gba");
    QInputMethodEvent commit;
    commit.setCommitString(QString::fromUtf8("é"));
    QApplication::sendEvent(child<FileList>("File1"), &commit);
    QCOMPARE(text("txtheader"), QStringLiteral("ETE"));
    typeTitle("NEW");
    QTest::mouseClick(child<QPushButton>("cmdEdit"), Qt::LeftButton);
    const auto ete = readBytes(path(QString::fromUtf8("été.gba")));
    QCOMPARE(QByteArray((const char*)&ete[kTitleOffset], 12), QByteArray("NEW         "));
    QCOMPARE(readBytes(path("sample.gba"))[kTitleOffset], std::uint8_t('S'));
}

void HeaderWindowTest::listsFollowTheDisk_data() {
    QTest::addColumn<bool>("byF5"); // else left to the lists to notice
    QTest::newRow("changed by another process") << false;
    QTest::newRow("F5") << true;
}

void HeaderWindowTest::listsFollowTheDisk() {
    QFETCH(bool, byF5);
    clickFile("sample.gba");
    QSignalSpy clicks(child<FileList>("File1"), &FileList::Click);
    // A killed copy's leftover too: only the next copy into here removes it.
    const QString leftover = path(".kelvo-gba-abcdef123456.partial");
    QCOMPARE(QProcess::execute("sh", {"-c", "touch new.gba " + leftover + " && mkdir newsub"}), 0);
    const auto& names = child<FileList>("File1")->names();
    if (byF5) { // read at once, before the event loop could pass on the change
        QApplication::setActiveWindow(window.get());
        QTest::keyClick(window.get(), Qt::Key_F5);
        QCOMPARE(names.size(), std::size_t(2));
    }
    QTRY_COMPARE(names.size(), std::size_t(2));
    auto* dirs = child<DirectoryList>("Dir1");
    QCOMPARE(dirs->entryPath(dirs->ListCount() - 2), path("newsub").toStdString());
    QCOMPARE(child<FileList>("File1")->FileName(), std::string("sample.gba"));
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(text("txtheader"), QStringLiteral("SAMPLE TITLE"));
    QVERIFY(child<QPushButton>("cmdEdit")->isEnabled());
    QVERIFY(QFile::exists(leftover));
}

void HeaderWindowTest::editFailuresChangeNothing_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("vanished") << "remove"
                              << "No such file or directory";
    QTest::newRow("too short") << "truncate"
                               << "Only 191 bytes long, shorter than a header";
}

void HeaderWindowTest::editFailuresChangeNothing() {
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    // The lists would notice the change within 200 ms and put the header
    // away; this is about Edit Header meeting it first.
    const LongOperation holdBackTheLists;
    clickFile("sample.gba");
    if (damage == "remove")
        QVERIFY(QFile::remove(path("sample.gba")));
    else
        QVERIFY(QFile::resize(path("sample.gba"), 191));
    const auto before = readBytes(path("sample.gba"));

    typeTitle("NEW");
    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    answerNextMessageBox(QMessageBox::Ok);
    QTest::mouseClick(child<QPushButton>("cmdEdit"), Qt::LeftButton);
    QCOMPARE(failures.size(), 1);
    const QString message = failures.at(0).at(0).toString();
    QVERIFY2(message.contains(path("sample.gba")), qPrintable(message));
    QVERIFY2(message.contains(reason, Qt::CaseInsensitive), qPrintable(message));
    QCOMPARE(readBytes(path("sample.gba")), before);
    QCOMPARE(QFile::exists(path("sample.gba")), damage != "remove");
}

void HeaderWindowTest::copyAsksBeforeReplacing_data() {
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("no keeps the file") << QMessageBox::No << false;
    QTest::newRow("yes replaces it") << QMessageBox::Yes << true;
}

void HeaderWindowTest::copyAsksBeforeReplacing() {
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, replaced);
    const std::vector<std::uint8_t> existing{'k', 'e', 'e', 'p'};
    writeBytes(path("SAMPLE TITLE.gba"), existing);
    clickFile("sample.gba");
    QString question;
    answerNextMessageBox(answer, &question);
    QTest::mouseClick(child<QPushButton>("cmdRen"), Qt::LeftButton);
    QCOMPARE(question, QStringLiteral("SAMPLE TITLE.gba already exists. Replace it?"));
    const auto target = readBytes(path("SAMPLE TITLE.gba"));
    if (replaced)
        QCOMPARE(target, readBytes(path("sample.gba")));
    else
        QCOMPARE(target, existing);
}

void HeaderWindowTest::answerActsOnlyOnTheImageStillShown_data() {
    QTest::addColumn<bool>("repair"); // else the copy's Replace question
    QTest::newRow("Replace") << false;
    QTest::newRow("Repair") << true;
}

// While the question is open, another file is renamed over the image (it
// needs the same repair) and the lists notice: the answer writes nothing.
void HeaderWindowTest::answerActsOnlyOnTheImageStillShown() {
    QFETCH(bool, repair);
    writeImage(path("sample.gba"), {.validCheck = false});
    const std::vector<std::uint8_t> kept{'k', 'e', 'e', 'p'};
    writeBytes(path("SAMPLE TITLE.gba"), kept);
    QVERIFY(QFile::copy(path("sample.gba"), path("other.gba")));
    const auto other = readBytes(path("other.gba"));
    clickFile("sample.gba");
    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    answerNextMessageBox(QMessageBox::Yes, nullptr, [this] {
        QVERIFY(std::rename(path("other.gba").toLocal8Bit(), path("sample.gba").toLocal8Bit()) ==
                0);
        child<FileList>("File1")->Refresh();
        answerNextMessageBox(QMessageBox::Ok); // a failure, should one come
    });
    if (repair)
        child<QAction>("actRepairHeader")->trigger();
    else
        QTest::mouseClick(child<QPushButton>("cmdRen"), Qt::LeftButton);
    QCOMPARE(failures.size(), 0);
    QCOMPARE(readBytes(path("sample.gba")), other);
    QCOMPARE(readBytes(path("SAMPLE TITLE.gba")), kept);
    QCOMPARE(window->statusText(),
             QStringLiteral("sample.gba went away; its header is no longer shown."));
}

void HeaderWindowTest::copyRefusesUnsafeTitles_data() {
    QTest::addColumn<QString>("title");
    QTest::newRow("separator") << "../ESCAPE";
    QTest::newRow("backslash") << "A\\B";
    QTest::newRow("reserved") << "WHAT?";
    QTest::newRow("empty") << "";
}

void HeaderWindowTest::copyRefusesUnsafeTitles() {
    QFETCH(QString, title);
    // Work one level down so that the parent directory is ours to watch too.
    writeImage(path("sub/inner.gba"));
    openDirectory(path("sub"));
    clickFile("inner.gba");
    typeTitle(title);
    QCOMPARE(text("txtheader"), title);
    const auto entries = [](const QString& where) {
        return QDir(where).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot);
    };
    const QStringList before = entries(path("sub"));
    const QStringList parentBefore = entries(dir->path());
    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    answerNextMessageBox(QMessageBox::Ok);
    QTest::mouseClick(child<QPushButton>("cmdRen"), Qt::LeftButton);
    QCOMPARE(failures.size(), 1);
    QCOMPARE(entries(path("sub")), before);
    QCOMPARE(entries(dir->path()), parentBefore);
}

// A click on a file another program holds a lease on waits for it, showing
// the busy cursor at once and, after half a second, a dialog naming the file;
// its Cancel gives up, and the window shows no image and says why, without
// a message box.
void HeaderWindowTest::leaseWaitShowsAndCancelLeavesNoImage() {
    writeImage(path("leased.gba"), {.title = "LEASED"});
    clickFile("sample.gba");
    const pid_t holder = holdLease(path("leased.gba").toStdString(), false);
    if (holder < 0)
        QSKIP("cannot take a lease here");
    const auto endHolder = qScopeGuard([holder] {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    });
    showBusyCursorDuringWaits();
    const auto noObserver = qScopeGuard([] { setWaitObserver(nullptr); });
    QString label;
    bool busyCursor = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QProgressDialog*>(widget);
            if (!dialog || !dialog->isVisible() || !label.isEmpty())
                continue;
            label = dialog->labelText();
            const QCursor* cursor = QGuiApplication::overrideCursor();
            busyCursor = cursor && cursor->shape() == Qt::WaitCursor;
            QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        }
    });
    watch.start(10);
    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    answerNextMessageBox(QMessageBox::Ok); // none should open
    clickFile("leased.gba");

    QCOMPARE(label, QStringLiteral("Waiting for leased.gba to be given up by another program..."));
    QVERIFY2(busyCursor, "no busy cursor while waiting");
    QVERIFY2(!QGuiApplication::overrideCursor(), "the busy cursor stayed after the wait");
    QCOMPARE(failures.size(), 0);
    QCOMPARE(window->statusText(),
             QStringLiteral("Stopped waiting for leased.gba; no header is shown."));
    for (const char* name : kValueNames)
        QVERIFY2(text(name).isEmpty(), name);
    QVERIFY(text("txtheader").isEmpty());
    QVERIFY(!child<QPushButton>("cmdEdit")->isEnabled() &&
            !child<QPushButton>("cmdRen")->isEnabled());
    QVERIFY(!imageMenuEnabled());
    QCOMPARE(::waitpid(holder, nullptr, WNOHANG), 0); // the wait did not outlast the holder
}

void HeaderWindowTest::failedClickIsReportedAndWindowStaysUsable() {
    QVERIFY(QDir(dir->path()).mkdir("x.gba")); // never listed: only regular files are
    QVERIFY(mkfifo(path("fifo.gba").toLocal8Bit().constData(), 0644) == 0);
    writeImage(path("other.gba"), {.title = "OTHER"});
    clickFile("sample.gba");
    QCOMPARE(text("txtheader"), QStringLiteral("SAMPLE TITLE"));
    QVERIFY(QFile::remove(path("other.gba")));

    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    answerNextMessageBox(QMessageBox::Ok);
    clickFile("other.gba", false); // listed, then vanished
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures.at(0).at(0).toString().contains(path("other.gba")),
             "the message names the file");
    for (const char* name : kValueNames)
        QVERIFY2(text(name).isEmpty(),
                 "a failed click must not leave the previous image's values shown");
    QVERIFY2(!imageMenuEnabled(), "the Image menu must not stay on a failed click");

    // A new file appears under the name whose header could not be read: no
    // write reaches it, by the button or by any other way to a write.
    writeImage(path("other.gba"), {.title = "OTHER"});
    const auto other = readBytes(path("other.gba"));
    QTest::mouseClick(child<QPushButton>("cmdEdit"), Qt::LeftButton);
    QCOMPARE(readBytes(path("other.gba")), other);
    QVERIFY(!child<QPushButton>("cmdRen")->isEnabled());
    const char* const writers[] = {"cmdEdit",
                                   "cmdRen",
                                   "actRepairHeader",
                                   "actTrimPadding",
                                   "actPadToPowerOfTwo",
                                   "actRenameToList",
                                   "actRestorePadding"};
    for (const char* name : writers) {
        answerNextMessageBox(QMessageBox::Ok);
        if (auto* button = window->findChild<QPushButton*>(name)) {
            button->setEnabled(true);
            button->click();
        } else {
            child<QAction>(name)->setEnabled(true);
            child<QAction>(name)->trigger();
        }
        QVERIFY2(failures.last().at(0).toString().contains("No header is shown"),
                 qPrintable(failures.last().at(0).toString()));
    }
    QCOMPARE(failures.size(), 1 + qsizetype(std::size(writers)));
    QCOMPARE(readBytes(path("other.gba")), other);
    QVERIFY2(!QFile::exists(path(".gba")), "a copy was made of a file never shown");

    clickFile("sample.gba");
    QCOMPARE(text("txtheader"), QStringLiteral("SAMPLE TITLE"));
    QCOMPARE(failures.size(), 1 + qsizetype(std::size(writers)));
}

void HeaderWindowTest::titleBoxAcceptsOnlyStorableCharacters_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("pasted"); // at once, over the whole title
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("status");
    const QString notInSet = "not in the one-byte character set (Windows-1252)";
    const QString tooMany = "a title holds at most 12 characters";
    QTest::newRow("plain") << "MY GAME" << false << "MY GAME"
                           << "";
    QTest::newRow("accents") << "Pokémon Ñ" << false << "Pokémon Ñ"
                             << "";
    QTest::newRow("euro sign is one byte") << "€5" << false << "€5"
                                           << "";
    QTest::newRow("outside the mapping") << "AĀB" << false << "AB"
                                         << "Left out \"Ā\": " + notInSet + ".";
    QTest::newRow("typed one by one, all named") << "日本" << false << ""
                                                 << "Left out \"日本\": " + notInSet + ".";
    QTest::newRow("at most twelve") << "ABCDEFGHIJKLMNOP" << false << "ABCDEFGHIJKL"
                                    << "Left out \"MNOP\": " + tooMany + ".";
    QTest::newRow("paste keeps what fits") << "ABCDEFGHIJKLMNOP" << true << "ABCDEFGHIJKL"
                                           << "Left out \"MNOP\": " + tooMany + ".";
    QTest::newRow("paste keeps the storable, in order")
        << "ÀBC😀DEFGHIĀJKLMNO" << true << "ÀBCDEFGHIJKL"
        << "Left out \"😀Ā\", " + notInSet + ", and \"MNO\": " + tooMany + ".";
}

void HeaderWindowTest::titleBoxAcceptsOnlyStorableCharacters() {
    QFETCH(QString, typed);
    QFETCH(bool, pasted);
    QFETCH(QString, kept);
    QFETCH(QString, status);
    clickFile("sample.gba");
    QApplication::clipboard()->setText(typed);
    typeTitle(pasted ? QString() : typed);
    if (pasted)
        QTest::keySequence(child<QLineEdit>("txtheader"), QKeySequence::Paste);
    QCOMPARE(text("txtheader"), kept);
    QCOMPARE(window->statusText(), status);
}

void HeaderWindowTest::everyCaptionAndValueFits() {
    // Every value a label can show, for images up to 4 GiB and any header
    // bytes, as the window makes it.
    const auto cuts = [](const QLabel* label, const QString& value) {
        const QFontMetrics metrics = label->fontMetrics();
        return metrics.horizontalAdvance(value) > label->contentsRect().width() ||
               metrics.height() > label->height();
    };
    std::map<std::string, QStringList> values;
    const std::string point = QLocale().decimalPoint().toStdString();
    for (std::int64_t mbit = 0; mbit <= megabitsFromBytes(std::int64_t(4) << 30); ++mbit) {
        values["lblsizembit"].append(QString::fromStdString(megabitText(mbit)));
        values["lblsizemb"].append(QString::fromStdString(megabyteText(mbit, point)));
    }
    for (int first = 0; first <= 0xFF; ++first) {
        values["lblterritory"].append(printable(fromUtf8(decodeTerritory(std::uint8_t(first)))));
        for (int second = 0; second <= 0xFF; ++second) {
            const std::array<std::uint8_t, 2> code{std::uint8_t(first), std::uint8_t(second)};
            values["lblid"].append(printable(fromUtf8(codeText(code))));
            values["lblman"].append(printable(fromUtf8(decodeMaker(code))));
        }
    }
    values["lbladv"] = QStringList{"A - Yes", "No"};
    values["lblcheck"] = QStringList{"Check OK", "Check bad"};
    for (const auto& [name, texts] : values) {
        const auto* label = child<QLabel>(name.c_str());
        for (const QString& value : texts)
            QVERIFY2(!cuts(label, value),
                     qPrintable(QStringLiteral("%1 cuts \"%2\"").arg(label->objectName(), value)));
    }
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->text().isEmpty())
            QVERIFY2(!cuts(label, label->text()), qPrintable(label->objectName()));
    }
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        QStringList lines{button->text()};
        if (auto* wrapping = qobject_cast<WrappingButton*>(button))
            lines = wrapping->displayLines();
        QVERIFY(lines.size() <= 2);
        for (const QString& line : lines)
            QVERIFY2(button->fontMetrics().horizontalAdvance(line) <= contents.width(),
                     qPrintable(QStringLiteral("%1 cuts \"%2\"").arg(button->objectName(), line)));
        QVERIFY2(button->fontMetrics().lineSpacing() * lines.size() <= contents.height() + 2,
                 qPrintable(button->objectName()));
    }
    auto* title = child<QLineEdit>("txtheader");
    title->setText("SAMPLE TITLE");
    QVERIFY2(title->fontMetrics().horizontalAdvance(title->text()) <=
                 title->contentsRect().width() - 6,
             "the title box cuts SAMPLE TITLE");
    // Everything stays inside the fixed client area and its group.
    const QRect client = window->centralWidget()->rect();
    for (QWidget* w : window->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(client.contains(w->geometry()), qPrintable(w->objectName()));
    auto* frame = child<QGroupBox>("Frame1");
    for (QWidget* w : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(frame->contentsRect().contains(w->geometry()), qPrintable(w->objectName()));
}

// Run at each scale by CTest (QT_SCALE_FACTOR, QT_FONT_DPI).
void HeaderWindowTest::framesDrawnWhole() {
    clickFile("sample.gba"); // the buttons enabled, the title box filled
    const QString unframed = unframedControls(window.get());
    QVERIFY2(unframed.isEmpty(), qPrintable(unframed));

    // The group's frame is drawn in bands (sparingfusion.h), no row twice or
    // left out: it must look as the style draws it whole.
    auto* group = child<QGroupBox>("Frame1");
    QStyle* own = group->style();
    const QImage ours = group->grab().toImage();
    group->setStyle(QApplication::style());
    const QImage styles = group->grab().toImage();
    group->setStyle(own);
    QCOMPARE(ours, styles);
}

void HeaderWindowTest::tabOrderFollowsTheLayout() {
    clickFile("sample.gba"); // enables the two file buttons
    QApplication::setActiveWindow(window.get());
    child<DriveList>("Drive1")->setFocus();
    const char* const order[] = {"Dir1",      "File1",  "cmdEdit", "cmdExit",
                                 "txtheader", "cmdRen", "Drive1"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY2(QApplication::focusWidget() && QApplication::focusWidget()->objectName() == name,
                 qPrintable(QStringLiteral("expected focus on %1, got %2")
                                .arg(name, QApplication::focusWidget()
                                               ? QApplication::focusWidget()->objectName()
                                               : QStringLiteral("nothing"))));
    }
}

void HeaderWindowTest::screenReaderNamesValuesNotCaptions() {
    const auto named = [](QWidget* widget, QAccessible::Text kind) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        return accessible ? accessible->text(kind) : QStringLiteral("<not accessible>");
    };
    const std::pair<const char*, QString> captions[] = {
        {"lblsizembit", "Size (Mbit)"}, {"lblsizemb", "Size (MB)"}, {"lbladv", "Advance"},
        {"lblterritory", "Territory"},  {"lblid", "Cart ID"},       {"lblman", "Manufacturer"},
        {"lblcheck", "Header check"}};
    // Empty before an image is clicked: named after the group box, a value
    // would read "IMAGE INFO".
    for (const bool clicked : {false, true}) {
        if (clicked)
            clickFile("sample.gba");
        for (const auto& [name, caption] : captions) {
            auto* label = child<QLabel>(name);
            const QString announced = named(label, QAccessible::Name);
            QVERIFY2(announced == label->text(),
                     qPrintable(QStringLiteral("%1 is announced as \"%2\" while showing \"%3\"")
                                    .arg(name, announced, label->text())));
            QCOMPARE(named(label, QAccessible::Description), caption);
        }
    }
    QCOMPARE(named(child<QLineEdit>("txtheader"), QAccessible::Name), QStringLiteral("Header"));
    QCOMPARE(named(child<DirectoryList>("Dir1"), QAccessible::Name), QStringLiteral("Directories"));
    QCOMPARE(named(child<FileList>("File1"), QAccessible::Name), QStringLiteral("Files"));
}

void HeaderWindowTest::exitClosesTheWindow() {
    QTest::mouseClick(child<QPushButton>("cmdExit"), Qt::LeftButton);
    QVERIFY(!window->isVisible());
    recreateWindow();
    QApplication::setActiveWindow(window.get());
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY2(!window->isVisible(), "Ctrl+Q quits");
}

void HeaderWindowTest::imageDetailsShowsEveryRow_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("byShortcut");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("padding");
    QTest::newRow("C locale, menu") << QLocale::c() << false << "4194304 bytes (32Mbit, 4MB)"
                                    << "4194114 bytes of 0x00";
    QTest::newRow("US English, Ctrl+I") << QLocale(QLocale::English, QLocale::UnitedStates) << true
                                        << "4,194,304 bytes (32Mbit, 4MB)"
                                        << "4,194,114 bytes of 0x00";
}

void HeaderWindowTest::imageDetailsShowsEveryRow() {
    QFETCH(QLocale, locale);
    QFETCH(bool, byShortcut);
    QFETCH(QString, size);
    QFETCH(QString, padding);
    QLocale::setDefault(locale);
    clickFile("sample.gba");
    if (byShortcut) {
        QApplication::setActiveWindow(window.get());
        QTest::keyClick(window.get(), Qt::Key_I, Qt::ControlModifier);
    } else {
        child<QAction>("actImageDetails")->trigger();
    }
    QLocale::setDefault(QLocale::c());
    auto* dialog = window->findChild<ImageDetailsDialog*>();
    QVERIFY2(dialog && dialog->isVisible(), "Image Details did not open");
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Image Details"));

    // Digests of the same bytes from Python's zlib and hashlib.
    const std::pair<QString, QString> expected[] = {
        {"File", path("sample.gba")},
        {"Size", size},
        {"Maker", "01 - Nintendo"},
        {"CRC32", "559be2ed"},
        {"SHA-256", "df34d4d6e8dbca365b9fd3aa493a272a76ea7d6ede36fc5cf3b84a56dadb59b4"},
        {"Padding", padding},
        {"List status", "No lists loaded"},
    };
    auto* form = dialog->findChild<QFormLayout*>();
    for (const auto& [caption, value] : expected) {
        auto* field = dialog->findChild<QLineEdit*>(caption);
        QVERIFY2(field, qPrintable(caption));
        QCOMPARE(field->text(), value);
        QVERIFY(field->isReadOnly());
        auto* label = qobject_cast<QLabel*>(form->labelForField(field));
        QVERIFY2(label && label->text() == caption + ':', qPrintable(caption));
        QCOMPARE(label->buddy(), field);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
        QCOMPARE(accessible->text(QAccessible::Name), caption);
        QCOMPARE(accessible->text(QAccessible::Value), value);
        QVERIFY2(field->fontMetrics().horizontalAdvance(value) < field->contentsRect().width() ||
                     caption == "File",
                 qPrintable(caption + " is cut off"));
    }

    QTest::mouseClick(dialog->findChild<QPushButton*>("copyAll"), Qt::LeftButton);
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 21);
    QCOMPARE(window->statusText(), QStringLiteral("Copied 21 rows to the clipboard."));
    QCOMPARE(lines.at(13), QStringLiteral("CRC32: 559be2ed"));
    QTest::mouseClick(dialog->findChild<QPushButton*>("close"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
}

void HeaderWindowTest::imageDetailsCancelWhileReading() {
    // The sample's 4 MiB are read in 16 chunks; the dialog shows after the first.
    window->setProgressDelay(0);
    clickFile("sample.gba");
    ProgressWatcher watcher(true);
    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    child<QAction>("actImageDetails")->trigger();
    QCOMPARE(watcher.shown, 1);
    QVERIFY(watcher.hadCancelButton);
    QCOMPARE(failures.size(), 0);
    QVERIFY2(!window->findChild<ImageDetailsDialog*>(), "Cancel must stop the reading");
}

void HeaderWindowTest::imageDetailsReportsAVanishedImage() {
    clickFile("sample.gba");
    QVERIFY(QFile::remove(path("sample.gba")));
    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    answerNextMessageBox(QMessageBox::Ok);
    child<QAction>("actImageDetails")->trigger();
    QCOMPARE(failures.size(), 1);
    const QString message = failures.at(0).at(0).toString();
    QVERIFY2(message.contains(path("sample.gba")) && message.contains("No such file"),
             qPrintable(message));
    QVERIFY2(!window->findChild<ImageDetailsDialog*>(), "a dialog stayed for a failed read");
}

void HeaderWindowTest::repairHeaderAsksAndWrites_data() {
    QTest::addColumn<int>("fixedValue");
    QTest::addColumn<bool>("validCheck");
    QTest::addColumn<bool>("logo");
    QTest::addColumn<int>("size"); // 0: a whole image
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QStringList>("told"); // parts of what the message box says
    QTest::addColumn<bool>("written");
    const QString logo = "Repair Header cannot mend";
    QTest::newRow("both wrong, yes") << 0x00 << false << true << 0 << QMessageBox::Yes
                                     << QStringList{"Byte 0xB2 (fixed value): 0x00 becomes 0x96",
                                                    "Byte 0xBD (check byte): 0x51 becomes 0x50"}
                                     << true;
    QTest::newRow("check wrong, no") << 0x96 << false << false << 0 << QMessageBox::No
                                     << QStringList{"0x51 becomes 0x50", logo} << false;
    QTest::newRow("nothing to repair")
        << 0x96 << true << true << 0 << QMessageBox::Ok << QStringList{"needs no repair"} << false;
    QTest::newRow("nothing it can mend, logo wrong")
        << 0x96 << true << false << 0 << QMessageBox::Ok
        << QStringList{"The bytes Repair Header can mend in sample.gba are right", logo} << false;
    QTest::newRow("not an image") << 0x00 << false << false << 0 << QMessageBox::Ok
                                  << QStringList{"does not look like a GBA image"} << false;
    QTest::newRow("shorter than a header")
        << 0x96 << false << true << 100 << QMessageBox::Ok
        << QStringList{"sample.gba", "shorter than a header (192 bytes)"} << false;
}

void HeaderWindowTest::repairHeaderAsksAndWrites() {
    QFETCH(int, fixedValue);
    QFETCH(bool, validCheck);
    QFETCH(bool, logo);
    QFETCH(int, size);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QStringList, told);
    QFETCH(bool, written);
    // The sample's check byte is 0x50 when valid; an invalid one is 0x51.
    writeImage(path("sample.gba"), {.validCheck = validCheck, .logo = logo});
    auto before = readBytes(path("sample.gba"));
    before[0xB2] = std::uint8_t(fixedValue);
    if (size > 0)
        before.resize(std::size_t(size));
    writeBytes(path("sample.gba"), before);
    clickFile("sample.gba");

    QString message;
    answerNextMessageBox(answer, &message);
    child<QAction>("actRepairHeader")->trigger();
    for (const QString& part : told)
        QVERIFY2(message.contains(part), qPrintable(message));
    QVERIFY2(!logo || !message.contains("cannot mend"), qPrintable(message));

    auto expected = before;
    if (written) {
        expected[0xB2] = 0x96;
        expected[0xBD] = 0x50;
    }
    QCOMPARE(readBytes(path("sample.gba")), expected);
    if (size == 0)
        QCOMPARE(text("lblcheck"),
                 written || validCheck ? QStringLiteral("Check OK") : QStringLiteral("Check bad"));
    if (written)
        QVERIFY2(window->statusText().contains("sample.gba"), qPrintable(window->statusText()));
}

void HeaderWindowTest::opensWhatItIsGiven_data() {
    // Paths are relative to the test directory; a drop carries them as local
    // URLs, "https:..." as a remote one and "text:..." as plain text.
    QTest::addColumn<bool>("dropped"); // else given as the program's arguments
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("startsIn"); // "" = where the window started
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("failures"); // a text each failure shown contains
    const QString sub = "sub", none;
    const QStringList image{"sub/inner.gba"}, noFailure;
    QTest::newRow("image") << false << image << sub << "inner.gba" << noFailure;
    QTest::newRow("image, relative")
        << false << QStringList{"./sub/../sub/inner.gba"} << sub << "inner.gba" << noFailure;
    QTest::newRow("directory") << false << QStringList{sub} << sub << none << noFailure;
    QTest::newRow("missing") << false << QStringList{"sub/none.gba"} << none << none
                             << QStringList{"sub/none.gba\": No such file"};
    QTest::newRow("FIFO") << false << QStringList{"sub/pipe.gba"} << none << none
                          << QStringList{"sub/pipe.gba\": Not a regular file but a FIFO"};
    QTest::newRow("other extension") << false << QStringList{"sub/readme.txt"} << sub << none
                                     << QStringList{"Not a ROM image name (.gba, .agb, .bin)"};
    QTest::newRow("hidden name") << false << QStringList{"sub/.hidden.gba"} << sub << none
                                 << QStringList{"hidden"};
    QTest::newRow("two paths") << false << QStringList{"sub/inner.gba", "sample.gba"} << sub
                               << "inner.gba" << QStringList{"Not opened: \"sample.gba\""};
    QTest::newRow("dropped image") << true << image << sub << "inner.gba" << noFailure;
    QTest::newRow("dropped directory") << true << QStringList{sub} << sub << none << noFailure;
    QTest::newRow("dropped: two images")
        << true << QStringList{"sub/inner.gba", "sample.gba"} << none << none << noFailure;
    QTest::newRow("dropped: other extension")
        << true << QStringList{"sub/readme.txt"} << none << none << noFailure;
    QTest::newRow("dropped: missing")
        << true << QStringList{"sub/none.gba"} << none << none << noFailure;
    QTest::newRow("dropped: remote URL")
        << true << QStringList{"https://example.com/a.gba"} << none << none << noFailure;
    QTest::newRow("dropped: text")
        << true << QStringList{"text:sub/inner.gba"} << none << none << noFailure;
}

void HeaderWindowTest::opensWhatItIsGiven() {
    QFETCH(bool, dropped);
    QFETCH(QStringList, paths);
    QFETCH(QString, startsIn);
    QFETCH(QString, selected);
    QFETCH(QStringList, failures);
    for (const char* name : {"sub/inner.gba", "sub/readme.txt", "sub/.hidden.gba"})
        writeImage(path(name), {.title = "INNER"});
    QVERIFY(mkfifo(path("sub/pipe.gba").toLocal8Bit().constData(), 0644) == 0);

    QSignalSpy reported(window.get(), &HeaderWindow::failureReported);
    for (qsizetype i = 0; i < failures.size(); ++i)
        answerNextMessageBox(QMessageBox::Ok);
    if (dropped) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& given : paths) {
            if (given.startsWith("text:"))
                data.setText(path(given.mid(5)));
            else
                urls << (given.startsWith("https:") ? QUrl(given)
                                                    : QUrl::fromLocalFile(path(given)));
        }
        if (!urls.isEmpty())
            data.setUrls(urls);
        QCOMPARE(dropOn(window.get(), data), !startsIn.isEmpty());
    } else {
        std::vector<std::string> arguments;
        for (const QString& given : paths)
            arguments.push_back(given.toStdString());
        window->openPaths(arguments);
    }

    QCOMPARE(reported.size(), failures.size());
    for (qsizetype i = 0; i < failures.size(); ++i)
        QVERIFY2(reported.at(i).at(0).toString().contains(failures[i]),
                 qPrintable(reported.at(i).at(0).toString()));
    const std::string shown = (startsIn.isEmpty() ? dir->path() : path(startsIn)).toStdString();
    QCOMPARE(child<DirectoryList>("Dir1")->Path(), shown);
    QCOMPARE(child<FileList>("File1")->Path(), shown);
    QCOMPARE(child<DriveList>("Drive1")->Drive(), child<DriveList>("Drive1")->driveOf(shown));
    QCOMPARE(child<FileList>("File1")->FileName(), selected.toStdString());
    QCOMPARE(child<QPushButton>("cmdEdit")->isEnabled(), !selected.isEmpty());
    if (selected.isEmpty())
        return;
    // As if clicked: the header is shown and Edit Header writes that very file.
    QCOMPARE(text("txtheader"), QStringLiteral("INNER"));
    typeTitle("EDITED");
    QTest::mouseClick(child<QPushButton>("cmdEdit"), Qt::LeftButton);
    const auto bytes = readBytes(path("sub/" + selected));
    QCOMPARE(std::string(bytes.begin() + 0xA0, bytes.begin() + 0xAC), std::string("EDITED      "));
}

void HeaderWindowTest::droppedNameKeepsItsBytes() {
    // A file manager sends a name that is not UTF-8 percent-encoded byte by byte.
    const QByteArray directory = QFile::encodeName(dir->path());
    const QByteArray linked = directory + "/caf\xE9.gba";
    QVERIFY(::link(directory + "/sample.gba", linked) == 0);
    // QTemporaryDir cannot remove a name a QString cannot hold.
    const auto unlinkAtEnd = qScopeGuard([&linked] { ::unlink(linked.constData()); });
    QMimeData data;
    data.setUrls({QUrl::fromEncoded("file://" + directory + "/caf%E9.gba")});
    QVERIFY(dropOn(window.get(), data));
    QCOMPARE(child<FileList>("File1")->FileName(), std::string("caf\xE9.gba"));
    QCOMPARE(text("txtheader"), QStringLiteral("SAMPLE TITLE"));
}

void HeaderWindowTest::longCopyShowsProgress_data() {
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("replacing");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("dialogShown");
    // A delay no copy here reaches, whatever the machine's speed.
    QTest::newRow("quick copy, no dialog") << 3600 * 1000 << false << false << false;
    QTest::newRow("long copy, left to finish") << 0 << false << false << true;
    QTest::newRow("long copy, cancelled") << 0 << false << true << true;
    QTest::newRow("long replacing copy, cancelled") << 0 << true << true << true;
}

void HeaderWindowTest::longCopyShowsProgress() {
    QFETCH(int, delayMs);
    QFETCH(bool, replacing);
    QFETCH(bool, cancel);
    QFETCH(bool, dialogShown);
    const std::vector<std::uint8_t> older{'o', 'l', 'd'};
    if (replacing)
        writeBytes(path("SAMPLE TITLE.gba"), older);
    const auto entries = [this] {
        return QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const QStringList before = entries();
    window->setProgressDelay(delayMs);
    clickFile("sample.gba");

    ProgressWatcher watcher(cancel);
    QSignalSpy reported(window.get(), &HeaderWindow::failureReported);
    if (replacing)
        answerNextMessageBox(QMessageBox::Yes);
    QTest::mouseClick(child<QPushButton>("cmdRen"), Qt::LeftButton);

    QCOMPARE(watcher.shown > 0, dialogShown);
    if (dialogShown) {
        QVERIFY2(watcher.hadCancelButton, "the progress dialog offers Cancel");
        QVERIFY2(watcher.labelIsPlainText, "a title in the label must not be read as markup");
    }
    QVERIFY2(window->findChildren<QProgressDialog*>().isEmpty(), "the dialog goes with the copy");
    if (dialogShown) // no other window may start another operation meanwhile
        QCOMPARE(watcher.modality, Qt::ApplicationModal);
    QCOMPARE(reported.size(), 0);
    if (cancel) {
        QCOMPARE(entries(), before);
        if (replacing)
            QCOMPARE(readBytes(path("SAMPLE TITLE.gba")), older);
        QCOMPARE(window->statusText(), QStringLiteral("Cancelled; nothing was written."));
    } else {
        QCOMPARE(readBytes(path("SAMPLE TITLE.gba")), readBytes(path("sample.gba")));
    }
}

namespace {

// Runs a command; false with its output in `why` when it fails.
bool run(const QString& program, const QStringList& arguments, QString* why) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    *why = program + ": " + process.errorString() + " " + QString::fromLocal8Bit(process.readAll());
    return false;
}

} // namespace

void HeaderWindowTest::drivesFollowMounts() {
    if (::geteuid() != 0)
        QSKIP("mounting a file system needs root");
    const QString image = path("card.img");
    const QString mountPoint = path("card");
    QVERIFY(QDir(dir->path()).mkdir("card"));
    writeImage(image, {.size = 8 << 20}); // mkfs.ext4 overwrites it
    QString why;
    if (!run("mkfs.ext4", {"-q", "-F", image}, &why))
        QSKIP(qPrintable("cannot make an ext4 image: " + why));
    if (!run("mount", {"-o", "loop", image, mountPoint}, &why))
        QSKIP(qPrintable("cannot loop-mount a file system here: " + why));
    const std::string root = mountPoint.toStdString();
    struct Unmount {
        std::string root;
        ~Unmount() { ::umount2(root.c_str(), MNT_DETACH); }
    } unmountAtEnd{root};

    auto* drives = child<DriveList>("Drive1");
    const QByteArray listed = QByteArray::fromStdString(root);
    QTRY_VERIFY2(drives->findData(listed) >= 0, "a drive mounted while the window is open appears");
    drives->setDrive(root);
    QCOMPARE(child<DirectoryList>("Dir1")->Path(), root);

    QCOMPARE(::umount2(root.c_str(), MNT_DETACH), 0);
    QTRY_VERIFY2(drives->findData(listed) < 0, "an unmounted drive goes");
    QCOMPARE(drives->Drive(), std::string("/"));
    QCOMPARE(child<DirectoryList>("Dir1")->Path(), std::string("/"));
    QVERIFY2(window->statusText().contains(mountPoint), qPrintable(window->statusText()));
}

QTEST_MAIN(HeaderWindowTest)
#include "tst_headerwindow.moc"
