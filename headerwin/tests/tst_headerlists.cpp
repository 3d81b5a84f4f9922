// The header window with checksum lists: the List row, Image Details' list
// rows, File > Checksum Lists..., and the Image menu's entries that change
// an image's name or length. Lists, images, the configured file and the
// cache all live in a fresh temporary directory.
#include "checksumwin/checksumlistsdialog.h"
#include "checksumwin/imagecheck.h"
#include "checksumwin/loadedlists.h"
#include "checksumwin/tests/listfixtures.h"
#include "headerwin/headerwindow.h"
#include "headerwin/imagedetailsdialog.h"
#include "testsupport.h"
#include "windowkit/filelist.h"

#include <QAccessible>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace kelvo;
using namespace kelvo::test;

class HeaderListsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listRowTellsTheMatch_data();
    void listRowTellsTheMatch();
    void listRowComesWithTheFirstList();
    void anotherClickCancelsTheCheck();
    void renameToListName_data();
    void renameToListName();
    void restorePadding_data();
    void restorePadding();
    void trimAndPad_data();
    void trimAndPad();
    void cacheProblemIsToldOnce();
    void framesDrawnWholeWithList();

private:
    template <typename T> T* child(const char* name) const {
        return control<T>(window.get(), name);
    }
    QString path(const QString& name) const { return dir->filePath(name); }
    // A window whose configured lists are `configured` (file names in the
    // test directory), shown, its lists started.
    void makeWindow(const QStringList& configured, const QString& cacheFile = "hashes.sqlite3");
    void clickFile(const QString& name);
    QString listRow() const { return child<QLabel>("lbllist")->text(); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<LoadedLists> lists;
    std::unique_ptr<HeaderWindow> window;
    QString previousDirectory;
};

void HeaderListsTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    previousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    writeText(path("test.dat"), kTestList);
    writeText(path("other.dat"), kOtherList);
    for (const char* title : {"VERIFIED", "GOOD", "BADDUMP", "SEVERAL", "RENAMED", "UNLISTED"})
        writeImage(path(QString::fromLatin1(title).toLower() + ".gba"),
                   {.title = title, .size = 65536});
    writeImage(path("trimmed.gba"), {.title = "TRIMMED", .size = 40000});
}

void HeaderListsTest::cleanup() {
    window.reset(); // before the lists it hashes through
    lists.reset();
    QLocale::setDefault(QLocale::c());
    QDir::setCurrent(previousDirectory);
    dir.reset();
}

void HeaderListsTest::makeWindow(const QStringList& configured, const QString& cacheFile) {
    QVERIFY(QDir(dir->path()).mkpath("config"));
    QFile file(path("config/checksum-lists"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (const QString& name : configured)
        file.write((path(name) + "\n").toUtf8());
    file.close();
    lists = std::make_unique<LoadedLists>(path("config/checksum-lists").toStdString(),
                                          path(cacheFile).toStdString());
    window = std::make_unique<HeaderWindow>();
    window->setLoadedLists(lists.get());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    lists->start();
}

void HeaderListsTest::clickFile(const QString& name) {
    auto* files = child<FileList>("File1");
    files->Refresh();
    QVERIFY2(clickListedName(files, name.toStdString()), qPrintable(name));
}

void HeaderListsTest::listRowTellsTheMatch_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("told"); // in the tooltip
    QTest::addColumn<QString>("actions");  // enabled: Rename To List Name, Restore Padding
    QTest::addColumn<QString>("details");  // Image Details' last rows, after Padding
    const QString test = "in Test List 2026.08.01", list = "\nList: Test List 2026.08.01\n";
    QTest::newRow("verified") << "verified.gba"
                              << "Verified: Verified Game (World).gba"
                              << QStringList{test, "(CRC32, MD5, SHA-1 agreed)"} << "rename"
                              << "Verified\nList name: Verified Game (World).gba" + list;
    QTest::newRow("good") << "good.gba"
                          << "Good: Good Game (World).gba" << QStringList{test} << "rename"
                          << "Good\nList name: Good Game (World).gba" + list;
    QTest::newRow("bad dump") << "baddump.gba"
                              << "Bad dump: Bad Game (World).gba" << QStringList{test} << "rename"
                              << "Bad dump\nList name: Bad Game (World).gba" + list;
    QTest::newRow("trimmed") << "trimmed.gba"
                             << "Trimmed: Trimmed Game (World).gba"
                             << QStringList{test, "padded to 65536 bytes with 0xFF"}
                             << "rename restore"
                             << "Trimmed\nList name: Trimmed Game (World).gba" + list;
    QTest::newRow("not listed") << "unlisted.gba"
                                << "Not in the loaded lists"
                                << QStringList{"Test List 2026.08.01", "Other List 1.0"} << ""
                                << "Not in the loaded lists\nList name: \nList: \n";
    QTest::newRow("several") << "several.gba"
                             << "Verified: Several (USA).gba and 1 more"
                             << QStringList{"Verified: Several (USA).gba in Other List 1.0",
                                            "Good: Several (Europe).gba " + test}
                             << "rename"
                             << "Verified\nList name: Several (USA).gba\nList: Other List 1.0\n";
}

void HeaderListsTest::listRowTellsTheMatch() {
    QFETCH(QString, file);
    QFETCH(QString, shown);
    QFETCH(QStringList, told);
    QFETCH(QString, actions);
    QFETCH(QString, details);
    makeWindow({"test.dat", "other.dat"});
    clickFile(file);
    QTRY_COMPARE(listRow(), shown);
    const QString tooltip = child<QLabel>("lbllist")->toolTip();
    for (const QString& part : told)
        QVERIFY2(tooltip.contains(part), qPrintable(tooltip));
    QCOMPARE(child<QAction>("actRenameToList")->isEnabled(), actions.contains("rename"));
    QCOMPARE(child<QAction>("actRestorePadding")->isEnabled(), actions.contains("restore"));
    // Read as the group's values are: the whole value, its caption beside it.
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(child<QLabel>("lbllist"));
    QCOMPARE(read->text(QAccessible::Name), shown);
    QCOMPARE(read->text(QAccessible::Description), QStringLiteral("List"));
    QCOMPARE(child<QLabel>("Label10")->text(), QStringLiteral("List"));

    child<QAction>("actImageDetails")->trigger();
    auto* dialog = window->findChild<ImageDetailsDialog*>();
    QVERIFY(dialog);
    const QString rows = dialog->allRowsText();
    QVERIFY2(rows.contains(QRegularExpression("\nPadding: [^\n]*\nList status: ")) &&
                 rows.endsWith("List status: " + details),
             qPrintable(rows));
}

void HeaderListsTest::listRowComesWithTheFirstList() {
    makeWindow({});
    QVERIFY2(!window->findChild<QLabel*>("Label10"), "a List row with no list configured");
    const int before = window->height();
    const QWidget* client = window->centralWidget();
    const int frameBottom = child<QGroupBox>("Frame1")->geometry().bottom() + 1;
    QCOMPARE(client->height(), frameBottom);
    clickFile("good.gba");

    // File > Checksum Lists..., a list dropped on it.
    child<QAction>("actChecksumLists")->trigger();
    auto* dialog = window->findChild<ChecksumListsDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path("test.dat"))});
    QVERIFY(dropOn(dialog, data));
    QTRY_COMPARE(listRow(), QStringLiteral("Good: Good Game (World).gba"));
    auto* caption = child<QLabel>("Label10");
    QVERIFY(caption->isVisible() && caption->geometry().top() >= frameBottom);
    QVERIFY(client->rect().contains(child<QLabel>("lbllist")->geometry()));
    QCOMPARE(window->height() - before, client->height() - frameBottom);
    QVERIFY(window->height() > before);

    lists->remove(path("test.dat").toStdString());
    QVERIFY(!caption->isVisible());
    QCOMPARE(window->height(), before);
    QVERIFY(!child<QAction>("actRenameToList")->isEnabled());
}

void HeaderListsTest::anotherClickCancelsTheCheck() {
    writeImage(path("big.gba"), {.title = "BIG", .size = std::int64_t(64) << 20});
    makeWindow({"test.dat"});
    QTRY_VERIFY(!lists->loading());
    QStringList delivered;
    connect(
        window->findChild<ImageCheck*>(), &ImageCheck::finished, this,
        [&](const ImageVerdict& verdict) { delivered << QString::fromStdString(verdict.path); });
    clickFile("big.gba");
    QCOMPARE(listRow(), QStringLiteral("Checking..."));
    clickFile("good.gba");
    QTRY_COMPARE(listRow(), QStringLiteral("Good: Good Game (World).gba"));
    QTest::qWait(300); // time for a result of the first click to arrive, were it not dropped
    QCOMPARE(delivered, QStringList{path("good.gba")});
    QCOMPARE(listRow(), QStringLiteral("Good: Good Game (World).gba"));
}

void HeaderListsTest::renameToListName_data() {
    QTest::addColumn<bool>("saveFile");
    QTest::addColumn<bool>("taken");
    QTest::newRow("plain") << false << false;
    QTest::newRow("with its save file") << true << false;
    QTest::newRow("name taken") << true << true;
}

void HeaderListsTest::renameToListName() {
    QFETCH(bool, saveFile);
    QFETCH(bool, taken);
    const QString listed = "Renamed Game (World).gba";
    const auto image = readBytes(path("renamed.gba"));
    const std::vector<std::uint8_t> save{'s', 'a', 'v'}, other{'o', 't', 'h'};
    if (saveFile)
        writeBytes(path("renamed.sav"), save);
    if (taken)
        writeBytes(path(listed), other);
    makeWindow({"test.dat"});
    clickFile("renamed.gba");
    QTRY_COMPARE(listRow(), "Good: " + listed);

    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    QString told;
    if (taken)
        answerNextMessageBox(QMessageBox::Ok, &told);
    child<QAction>("actRenameToList")->trigger();
    if (taken) {
        QCOMPARE(failures.size(), 1);
        QVERIFY2(told.startsWith(listed + " already exists"), qPrintable(told));
        QCOMPARE(readBytes(path("renamed.gba")), image);
        QCOMPARE(readBytes(path(listed)), other);
        QCOMPARE(readBytes(path("renamed.sav")), save);
        return;
    }
    QCOMPARE(failures.size(), 0);
    QString status = "Renamed renamed.gba to " + listed + ".";
    if (saveFile)
        status += " Its save file renamed.sav is now Renamed Game (World).sav.";
    QCOMPARE(window->statusText(), status);
    QVERIFY(!QFile::exists(path("renamed.gba")));
    QCOMPARE(readBytes(path(listed)), image);
    if (saveFile)
        QCOMPARE(readBytes(path("Renamed Game (World).sav")), save);
    // The lists follow; the image stays selected and its header shown.
    QCOMPARE(child<FileList>("File1")->FileName(), listed.toStdString());
    QCOMPARE(window->currentRomPath(), path(listed).toStdString());
    QCOMPARE(child<QLineEdit>("txtheader")->text(), QStringLiteral("RENAMED"));
    QVERIFY(child<QPushButton>("cmdEdit")->isEnabled());
    QCOMPARE(listRow(), "Good: " + listed);
    QVERIFY(!child<QAction>("actRenameToList")->isEnabled());
    QTest::qWait(400); // the lists' own look at the directory changes nothing
    QCOMPARE(window->statusText(), status);
    QVERIFY(child<QPushButton>("cmdEdit")->isEnabled());
}

void HeaderListsTest::restorePadding_data() {
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("changedMeanwhile");
    QTest::newRow("No changes nothing") << QMessageBox::No << false;
    QTest::newRow("Yes restores it") << QMessageBox::Yes << false;
    QTest::newRow("changed since it was hashed") << QMessageBox::Yes << true;
}

void HeaderListsTest::restorePadding() {
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, changedMeanwhile);
    auto before = readBytes(path("trimmed.gba"));
    makeWindow({"test.dat"});
    clickFile("trimmed.gba");
    QTRY_COMPARE(listRow(), QStringLiteral("Trimmed: Trimmed Game (World).gba"));

    QSignalSpy failures(window.get(), &HeaderWindow::failureReported);
    QString question;
    answerNextMessageBox(answer, &question, [&] {
        if (!changedMeanwhile)
            return;
        QFile image(path("trimmed.gba"));
        QVERIFY(image.open(QIODevice::Append) && image.write("x", 1) == 1);
        before.push_back('x');
        answerNextMessageBox(QMessageBox::Ok);
    });
    child<QAction>("actRestorePadding")->trigger();
    QVERIFY2(question.contains("25,536 bytes of 0xFF"), qPrintable(question));
    if (answer == QMessageBox::No || changedMeanwhile) {
        QCOMPARE(failures.size(), changedMeanwhile ? 1 : 0);
        if (changedMeanwhile)
            QVERIFY2(failures.at(0).at(0).toString().contains("changed since it was read"),
                     qPrintable(failures.at(0).at(0).toString()));
        QCOMPARE(readBytes(path("trimmed.gba")), before);
        return;
    }
    auto expected = before;
    expected.resize(65536, 0xFF);
    QCOMPARE(readBytes(path("trimmed.gba")), expected);
    QCOMPARE(window->statusText(), QStringLiteral("Padded trimmed.gba with 25,536 bytes of 0xFF."));
    // It now matches outright, with the entry's own status.
    QTRY_COMPARE(listRow(), QStringLiteral("Verified: Trimmed Game (World).gba"));
    QVERIFY(!child<QAction>("actRestorePadding")->isEnabled());
}

void HeaderListsTest::trimAndPad_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("question"); // a part of it
    QTest::addColumn<qint64>("size");      // afterwards
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("megabits"); // the Size (Mbit) label afterwards
    const QString trimmed = "524,288 bytes of 0x00 will be cut";
    const QString padded = "448,576 bytes of 0xFF will be appended";
    QTest::newRow("trim") << "actTrimPadding" << QMessageBox::Yes << trimmed << qint64(524288)
                          << "Trimmed 524,288 bytes of 0x00 from data.gba."
                          << "4Mbit";
    QTest::newRow("trim, No") << "actTrimPadding" << QMessageBox::No << trimmed << qint64(1048576)
                              << ""
                              << "8Mbit";
    QTest::newRow("pad") << "actPadToPowerOfTwo" << QMessageBox::Yes << padded << qint64(1048576)
                         << "Padded data.gba with 448,576 bytes of 0xFF."
                         << "8Mbit";
    QTest::newRow("pad, No") << "actPadToPowerOfTwo" << QMessageBox::No << padded << qint64(600000)
                             << ""
                             << "5Mbit";
}

void HeaderListsTest::trimAndPad() {
    QFETCH(QString, action);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, question);
    QFETCH(qint64, size);
    QFETCH(QString, status);
    QFETCH(QString, megabits);
    // Data to 512 KiB, then zeros to 1 MiB (trimming); or 600,000 bytes of data (padding).
    const bool trim = action == "actTrimPadding";
    writeImage(path("data.gba"), {.title = "DATA", .size = trim ? 1048576 : 600000});
    auto bytes = readBytes(path("data.gba"));
    std::fill(bytes.begin() + 0xC0, bytes.begin() + (trim ? 524288 : 600000), 0xAB);
    writeBytes(path("data.gba"), bytes);
    makeWindow({"test.dat"});
    clickFile("data.gba");
    QTRY_COMPARE(listRow(), QStringLiteral("Not in the loaded lists"));

    QString asked;
    answerNextMessageBox(answer, &asked);
    child<QAction>(qPrintable(action))->trigger();
    QVERIFY2(asked.contains(question), qPrintable(asked));
    auto expected = bytes;
    expected.resize(std::size_t(size), 0xFF);
    QCOMPARE(readBytes(path("data.gba")), expected);
    QCOMPARE(window->statusText(), status);
    QCOMPARE(child<QLabel>("lblsizembit")->text(), megabits);
    QCOMPARE(child<QLabel>("lblcheck")->text(), QStringLiteral("Check OK"));
    QTRY_COMPARE(listRow(), QStringLiteral("Not in the loaded lists"));
}

void HeaderListsTest::cacheProblemIsToldOnce() {
    // A directory where the cache's file should be: it cannot be opened.
    QVERIFY(QDir(dir->path()).mkdir("cache.sqlite3"));
    makeWindow({"test.dat"}, "cache.sqlite3");
    QTRY_VERIFY2(window->statusText().contains("cache.sqlite3"), qPrintable(window->statusText()));
    clickFile("good.gba");
    QTRY_COMPARE(listRow(), QStringLiteral("Good: Good Game (World).gba"));
    clickFile("verified.gba");
    QTRY_COMPARE(listRow(), QStringLiteral("Verified: Verified Game (World).gba"));
    QCOMPARE(window->statusText(), QString());
}

// Run at each scale by CTest (QT_SCALE_FACTOR, QT_FONT_DPI).
void HeaderListsTest::framesDrawnWholeWithList() {
    makeWindow({"test.dat", "other.dat"});
    clickFile("several.gba");
    QTRY_COMPARE(listRow(), QStringLiteral("Verified: Several (USA).gba and 1 more"));
    const QString unframed = unframedControls(window.get());
    QVERIFY2(unframed.isEmpty(), qPrintable(unframed));
    const QRect client = window->centralWidget()->rect();
    for (QWidget* w : window->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(client.contains(w->geometry()), qPrintable(w->objectName()));
    auto* caption = child<QLabel>("Label10");
    QVERIFY(caption->fontMetrics().horizontalAdvance(caption->text()) <=
            caption->contentsRect().width());
}

QTEST_MAIN(HeaderListsTest)
#include "tst_headerlists.moc"
