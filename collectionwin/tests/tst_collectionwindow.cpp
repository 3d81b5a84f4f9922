// The Check Collection window over a temporary directory of images and a
// zip archive, against the checksum lists the window tests share. Every
// expected cell is written by hand; checksums come from Python's zlib and
// hashlib over the bytes writeImage makes.
#include "checksumwin/loadedlists.h"
#include "checksumwin/tests/listfixtures.h"
#include "collectionwin/checktablemodel.h"
#include "collectionwin/collectionwindow.h"
#include "collectionwin/headerhookup.h"
#include "collectionwin/progresstext.h"
#include "headerwin/headerwindow.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

#include <memory>

using namespace kelvo;
using namespace kelvo::test;

namespace {

// The rows as "File|Header|CRC32|SHA-1|List status|List name".
QStringList shownRows(const QTableView* table) {
    QStringList rows;
    const QAbstractItemModel* model = table->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (const CheckColumn column :
             {CheckColumn::File, CheckColumn::Header, CheckColumn::Crc32, CheckColumn::Sha1,
              CheckColumn::ListStatus, CheckColumn::ListName})
            cells << model->index(row, int(column)).data().toString();
        rows << cells.join(u'|');
    }
    return rows;
}

// A zip of the files `members` names in `dir`, stored under their names.
void zipFiles(const QString& archive, const QString& dir, const QStringList& members) {
    int error = 0;
    zip_t* zip =
        zip_open(QFile::encodeName(archive).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    QVERIFY2(zip, qPrintable(archive));
    for (const QString& member : members) {
        zip_source_t* source =
            zip_source_file(zip, QFile::encodeName(dir + '/' + member).constData(), 0, 0);
        QVERIFY(source && zip_file_add(zip, member.toUtf8().constData(), source, 0) >= 0);
    }
    QCOMPARE(zip_close(zip), 0);
}

const QString kVerified = "62b82acf|19d2c2fa8ccd04a7cb29111e088c8044f82bbddf";
const QString kGood = "ef485861|456758498e039892ffda99a1cce47386b7229744";
const QString kUnlisted = "0825e84c|4ed707f9f300a1c84e01d6f94d7fe48dc38927a1";
const QString kShort = "9988c6ca|ed4a77d1b56a118938788fc53037759b6c501e3d";

} // namespace

class CollectionWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void checkShowsEveryImage_data();
    void checkShowsEveryImage();
    void checkWaitsForTheLists_data();
    void checkWaitsForTheLists();
    void cancelKeepsTheRowsDone();
    void doubleClickShowsTheImage_data();
    void doubleClickShowsTheImage();
    void archiveOpensTheWindow_data();
    void archiveOpensTheWindow();
    void repairHeaders_data();
    void repairHeaders();
    void renameToListNames_data();
    void renameToListNames();
    void exportReport_data();
    void exportReport();
    void progressText_data();
    void progressText();
    void framesDrawnWhole();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    // The lists (test.dat configured unless `configured` is false), not started.
    void makeLists(bool configured = true);
    // The header window with the collection window attached, shown.
    void makeHeaderWindow();
    CollectionWindow* collection() const;
    void runCheck(CollectionWindow* window);
    template <typename T> T* child(const char* name) const {
        return control<T>(collection(), name);
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<LoadedLists> lists;
    std::unique_ptr<HeaderWindow> header;
    std::unique_ptr<CollectionWindow> alone;
};

void CollectionWindowTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(QDir(dir->path()).mkpath("games/sub"));
    writeText(path("test.dat"), kTestList);
    writeImage(path("games/verified.gba"), {.title = "VERIFIED", .size = 65536});
    writeImage(path("games/unlisted.gba"), {.title = "UNLISTED", .size = 65536});
    writeImage(path("games/short.gba"), {.title = "SHORT", .size = 100});
    writeImage(path("games/sub/good.gba"), {.title = "GOOD", .size = 65536});
    zipFiles(path("games/pack.zip"), path("games/sub"), {"good.gba"});
}

void CollectionWindowTest::cleanup() {
    alone.reset();
    header.reset(); // before the lists it hashes through
    lists.reset();
    dir.reset();
}

void CollectionWindowTest::makeLists(bool configured) {
    QFile file(path("checksum-lists"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (configured)
        file.write((path("test.dat") + "\n").toUtf8());
    file.close();
    lists = std::make_unique<LoadedLists>(path("checksum-lists").toStdString(),
                                          path("hashes.sqlite3").toStdString());
}

void CollectionWindowTest::makeHeaderWindow() {
    makeLists();
    lists->start();
    header = std::make_unique<HeaderWindow>();
    header->setLoadedLists(lists.get());
    attachCollectionWindow(*header, lists.get());
    header->show();
    QVERIFY(QTest::qWaitForWindowExposed(header.get()));
}

CollectionWindow* CollectionWindowTest::collection() const {
    if (alone)
        return alone.get();
    return header ? qobject_cast<CollectionWindow*>(header->collectionWindow()) : nullptr;
}

void CollectionWindowTest::runCheck(CollectionWindow* window) {
    QSignalSpy ended(window, &CollectionWindow::checkEnded);
    QTest::mouseClick(control<QPushButton>(window, "cmdCheck"), Qt::LeftButton);
    QVERIFY(ended.wait(20000));
}

void CollectionWindowTest::checkShowsEveryImage_data() {
    QTest::addColumn<bool>("withLists");
    QTest::addColumn<bool>("subdirectories");
    QTest::addColumn<bool>("trust");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("summary");
    const QStringList top = {
        "pack.zip/good.gba|logo invalid|" + kGood + "|Good|Good Game (World).gba",
        "short.gba|too short|" + kShort + "|Not in the loaded lists|",
        "unlisted.gba|logo invalid|" + kUnlisted + "|Not in the loaded lists|",
        "verified.gba|logo invalid|" + kVerified + "|Verified|Verified Game (World).gba"};
    const QString sub = "sub/good.gba|logo invalid|" + kGood + "|Good|Good Game (World).gba";
    QTest::newRow("whole tree") << true << true << false << (top + QStringList{sub})
                                << "5 images: 1 verified, 2 good, 2 not in the loaded lists; 1 "
                                   "duplicate.";
    QTest::newRow("top directory") << true << false << false << top
                                   << "4 images: 1 verified, 1 good, 2 not in the loaded lists.";
    QStringList trusted = top + QStringList{sub};
    trusted[0] = "pack.zip/good.gba|logo invalid|ef485861|not computed|Good|Good Game (World).gba";
    QTest::newRow("archive trusted") << true << true << true << trusted
                                     << "5 images: 1 verified, 2 good, 2 not in the loaded lists.";
    QStringList unlisted;
    for (const QString& row : top + QStringList{sub})
        unlisted << row.section(u'|', 0, 3) + "|No lists loaded|";
    QTest::newRow("no lists") << false << true << false << unlisted << "5 images; 1 duplicate.";
}

void CollectionWindowTest::checkShowsEveryImage() {
    QFETCH(bool, withLists);
    QFETCH(bool, subdirectories);
    QFETCH(bool, trust);
    QFETCH(QStringList, rows);
    QFETCH(QString, summary);
    makeLists(withLists);
    lists->start();
    alone = std::make_unique<CollectionWindow>(nullptr, lists.get());
    alone->show();
    QCOMPARE(alone->windowTitle(), QStringLiteral("Check Collection"));
    typeInto(child<QLineEdit>("txtDirectory"), path("games"));
    if (!subdirectories)
        QTest::mouseClick(child<QCheckBox>("chkSubdirectories"), Qt::LeftButton);
    if (trust)
        QTest::mouseClick(child<QCheckBox>("chkTrustArchives"), Qt::LeftButton);
    runCheck(alone.get());

    auto* table = child<QTableView>("tblRows");
    QCOMPARE(shownRows(table), rows);
    const QAbstractItemModel* model = table->model();
    QStringList captions;
    for (int column = 0; column < model->columnCount(); ++column)
        captions << model->headerData(column, Qt::Horizontal).toString();
    QCOMPARE(captions.join(u','), QStringLiteral("File,Title,Game code,Maker,Size,Header,Save "
                                                 "type,CRC32,SHA-1,List status,List name"));
    const int verified = 3; // in the walk's order, before sub/
    QCOMPARE(model->index(verified, 1).data().toString(), QStringLiteral("VERIFIED"));
    QCOMPARE(model->index(verified, 2).data().toString(), QStringLiteral("AXYJ"));
    QCOMPARE(model->index(verified, 3).data().toString(), QStringLiteral("01 - Nintendo"));
    QCOMPARE(child<QLabel>("lblSummary")->text(), summary);
    QVERIFY2(!table->selectionModel()->hasSelection(), "a row is selected after the check");

    // Sizes sort as numbers: 100 before 65536, then back the other way.
    table->sortByColumn(int(CheckColumn::Size), Qt::AscendingOrder);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("short.gba"));
    table->sortByColumn(int(CheckColumn::Size), Qt::DescendingOrder);
    QCOMPARE(model->index(model->rowCount() - 1, 0).data().toString(), QStringLiteral("short.gba"));
}

void CollectionWindowTest::checkWaitsForTheLists_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("lists loaded then") << false;
    QTest::newRow("cancelled while waiting") << true;
}

void CollectionWindowTest::checkWaitsForTheLists() {
    QFETCH(bool, cancel);
    makeLists();
    alone = std::make_unique<CollectionWindow>(nullptr, lists.get());
    alone->show();
    alone->setDirectory(path("games/verified.gba").toStdString());
    // The window starts the lists itself; the check waits for them.
    QTest::mouseClick(child<QPushButton>("cmdCheck"), Qt::LeftButton);
    QVERIFY(alone->busy());
    QVERIFY(child<QPushButton>("cmdCancel")->isVisible());
    if (cancel) {
        QTest::mouseClick(child<QPushButton>("cmdCancel"), Qt::LeftButton);
        QVERIFY(!alone->busy());
        QCOMPARE(alone->model().rowCount(), 0);
        QVERIFY(child<QPushButton>("cmdCheck")->isEnabled());
        return;
    }
    QTRY_VERIFY(!alone->busy());
    QCOMPARE(shownRows(child<QTableView>("tblRows")),
             QStringList{"verified.gba|logo invalid|" + kVerified +
                         "|Verified|Verified Game (World).gba"});
}

void CollectionWindowTest::cancelKeepsTheRowsDone() {
    QVERIFY(QDir(dir->path()).mkpath("many"));
    constexpr int kImages = 400;
    for (int i = 0; i < kImages; ++i)
        writeImage(path(QStringLiteral("many/%1.gba").arg(i, 3, 10, QChar('0'))),
                   {.size = 8 << 20});
    alone = std::make_unique<CollectionWindow>();
    alone->show();
    alone->setDirectory(path("many").toStdString());
    QSignalSpy ended(alone.get(), &CollectionWindow::checkEnded);
    QTest::mouseClick(child<QPushButton>("cmdCheck"), Qt::LeftButton);
    QTRY_VERIFY(alone->model().rowCount() > 0);
    QTest::mouseClick(child<QPushButton>("cmdCancel"), Qt::LeftButton);
    QVERIFY(ended.wait(5000));
    const int kept = alone->model().rowCount();
    QVERIFY2(kept > 0 && kept < kImages, qPrintable(QString::number(kept)));
    for (const CheckRow& row : alone->model().rows())
        QVERIFY2(row.readable() && row.whole, row.file.c_str());
    // The summary counts what was kept.
    QVERIFY(child<QLabel>("lblSummary")->text().startsWith(QStringLiteral("%1 image").arg(kept)));
}

void CollectionWindowTest::doubleClickShowsTheImage_data() {
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("shown"); // in the header window afterwards
    QTest::newRow("plain file") << "sub/good.gba"
                                << "games/sub/good.gba";
    QTest::newRow("archive member") << "pack.zip/good.gba" << QString();
    QTest::newRow("unreadable") << "broken.gba" << QString();
}

void CollectionWindowTest::doubleClickShowsTheImage() {
    QFETCH(QString, row);
    QFETCH(QString, shown);
    QVERIFY(QFile::link(path("games/nowhere.gba"), path("games/broken.gba")));
    makeHeaderWindow();
    header->openPath(path("games").toStdString());
    header->findChild<QAction*>("actCheckCollection")->trigger();
    QVERIFY(collection() && QTest::qWaitForWindowExposed(collection()));
    // It starts at the header window's directory; a second trigger keeps the one window.
    QCOMPARE(child<QLineEdit>("txtDirectory")->text(), path("games"));
    header->findChild<QAction*>("actCheckCollection")->trigger();
    QCOMPARE(header->findChildren<CollectionWindow*>().size(), 1);
    runCheck(collection());

    auto* table = child<QTableView>("tblRows");
    const QModelIndexList found = table->model()->match(table->model()->index(0, 0),
                                                        Qt::DisplayRole, row, 1, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    const QRect cell = table->visualRect(found.front());
    QSignalSpy opened(collection(), &CollectionWindow::imageOpened);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(opened.size(), shown.isEmpty() ? 0 : 1);
    QCOMPARE(QString::fromStdString(header->currentRomPath()),
             shown.isEmpty() ? QString() : path(shown));
}

void CollectionWindowTest::archiveOpensTheWindow_data() {
    QTest::addColumn<bool>("dropped");
    QTest::newRow("command line") << false;
    QTest::newRow("dropped") << true;
}

void CollectionWindowTest::archiveOpensTheWindow() {
    QFETCH(bool, dropped);
    makeHeaderWindow();
    QVERIFY(QFile::rename(path("games/pack.zip"), path("games/PACK.ZIP")));
    const QString archive = path("games/PACK.ZIP");
    QSignalSpy failures(header.get(), &HeaderWindow::failureReported);
    if (dropped) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(archive)});
        QVERIFY(dropOn(header.get(), data));
    } else {
        header->openPaths({archive.toStdString()});
    }
    QVERIFY(collection() && collection()->isVisible());
    QCOMPARE(child<QLineEdit>("txtDirectory")->text(), archive);
    QTRY_VERIFY(!collection()->busy());
    QCOMPARE(
        shownRows(child<QTableView>("tblRows")),
        QStringList{"PACK.ZIP/good.gba|logo invalid|" + kGood + "|Good|Good Game (World).gba"});
    QCOMPARE(failures.size(), 0);
}

void CollectionWindowTest::repairHeaders_data() {
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("replaced"); // by another file while the question was open
    QTest::newRow("confirmed") << QMessageBox::Yes << false;
    QTest::newRow("declined") << QMessageBox::No << false;
    QTest::newRow("file replaced meanwhile") << QMessageBox::Yes << true;
}

void CollectionWindowTest::repairHeaders() {
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, replaced);
    QVERIFY(QDir(dir->path()).mkpath("fix"));
    writeImage(path("fix/fixme.gba"),
               {.title = "FIXME", .size = 4096, .validCheck = false, .logo = true});
    writeImage(path("fix/nologo.gba"), {.title = "NOLOGO", .size = 4096, .validCheck = false});
    writeImage(path("fix/fine.gba"), {.title = "FINE", .size = 4096, .logo = true});
    zipFiles(path("fix/packed.zip"), path("fix"), {"fixme.gba"});
    const std::vector<std::uint8_t> before = readBytes(path("fix/fixme.gba"));
    alone = std::make_unique<CollectionWindow>();
    alone->show();
    alone->setDirectory(path("fix").toStdString());
    runCheck(alone.get());
    QCOMPARE(child<QLabel>("lblSummary")->text(),
             QStringLiteral("4 images; 3 headers to repair; 1 duplicate."));

    QString asked, failed;
    const auto replace = [&] {
        QVERIFY(QFile::copy(path("fix/fixme.gba"), path("fix/copy.gba")));
        QCOMPARE(::rename(qPrintable(path("fix/copy.gba")), qPrintable(path("fix/fixme.gba"))), 0);
        answerNextMessageBox(QMessageBox::Ok, &failed);
    };
    answerNextMessageBox(answer, &asked, replaced ? std::function<void()>(replace) : nullptr);
    QSignalSpy ended(alone.get(), &CollectionWindow::checkEnded);
    QTest::mouseClick(child<QPushButton>("cmdRepair"), Qt::LeftButton);
    QVERIFY2(asked.startsWith("Repair the headers of 1 file?") &&
                 asked.contains("\nfixme.gba: Byte 0xBD (check byte): 0x3A becomes 0x3B") &&
                 asked.contains("\nSkipped nologo.gba: the boot logo is not the console's") &&
                 asked.contains("\nSkipped packed.zip/fixme.gba: inside an archive") &&
                 !asked.contains("fine.gba"),
             qPrintable(asked));
    const std::vector<std::uint8_t> after = readBytes(path("fix/fixme.gba"));
    if (replaced) { // not written, and told with the path
        QTRY_VERIFY(!failed.isEmpty());
        QVERIFY2(failed.startsWith("1 file could not be repaired:") &&
                     failed.contains(path("fix/fixme.gba")),
                 qPrintable(failed));
        QVERIFY(after == before);
        return;
    }
    if (answer == QMessageBox::No) {
        QVERIFY(after == before);
        QCOMPARE(ended.size(), 0);
        return;
    }
    QCOMPARE(after.size(), before.size());
    QCOMPARE(int(after[0xBD]), 0x3B);
    QVERIFY(ended.wait(10000));
    QCOMPARE(shownRows(child<QTableView>("tblRows")).filter("fixme").join(u'\n'),
             QStringLiteral(
                 "fixme.gba|OK|295238e4|f75067a4980d4fe7a576d8c5f132178fd5d631ec|No lists loaded|\n"
                 "packed.zip/fixme.gba|check byte bad|4fef8fc2|"
                 "a79aba77b721f37869eefd7f880c86c42e71465e|No lists loaded|"));
    QCOMPARE(child<QLabel>("lblSummary")->text(), QStringLiteral("4 images; 2 headers to repair."));
}

void CollectionWindowTest::renameToListNames_data() {
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("confirmed") << QMessageBox::Yes;
    QTest::newRow("declined") << QMessageBox::No;
}

void CollectionWindowTest::renameToListNames() {
    QFETCH(QMessageBox::StandardButton, answer);
    writeImage(path("games/renamed.gba"), {.title = "RENAMED", .size = 65536});
    writeImage(path("games/renamed.sav"), {.size = 8192});
    writeImage(path("games/good1.gba"), {.title = "GOOD", .size = 65536});
    writeImage(path("games/good2.gba"), {.title = "GOOD", .size = 65536});
    makeLists();
    lists->start();
    alone = std::make_unique<CollectionWindow>(nullptr, lists.get());
    alone->show();
    alone->setDirectory(path("games").toStdString());
    QTest::mouseClick(child<QCheckBox>("chkSubdirectories"), Qt::LeftButton);
    runCheck(alone.get());

    QString asked;
    answerNextMessageBox(answer, &asked);
    QTest::mouseClick(child<QPushButton>("cmdRename"), Qt::LeftButton);
    QVERIFY2(asked.startsWith("Rename 2 files to the lists' names?") &&
                 asked.contains("\nrenamed.gba -> Renamed Game (World).gba") &&
                 asked.contains("\nSkipped good1.gba: another file wants the name \"Good Game "
                                "(World).gba\" too") &&
                 asked.contains("\nSkipped pack.zip/good.gba: inside an archive"),
             qPrintable(asked));
    const bool renamed = answer == QMessageBox::Yes;
    QCOMPARE(QFile::exists(path("games/Renamed Game (World).gba")), renamed);
    QCOMPARE(QFile::exists(path("games/Renamed Game (World).sav")), renamed);
    QCOMPARE(QFile::exists(path("games/renamed.gba")), !renamed);
    QCOMPARE(QFile::exists(path("games/Verified Game (World).gba")), renamed);
    QVERIFY(QFile::exists(path("games/good1.gba")) && QFile::exists(path("games/good2.gba")));
    const QStringList rows = shownRows(child<QTableView>("tblRows")).filter("Renamed Game");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.front().section(u'|', 0, 0),
             renamed ? QStringLiteral("Renamed Game (World).gba") : QStringLiteral("renamed.gba"));
}

void CollectionWindowTest::exportReport_data() {
    QTest::addColumn<QString>("name");    // typed in the save dialog
    QTest::addColumn<QString>("written"); // the file written, empty for none
    QTest::addColumn<QString>("failure"); // what the failure box says, in part
    QTest::newRow("csv") << "report.csv"
                         << "report.csv" << QString();
    QTest::newRow("json") << "report.JSON"
                          << "report.JSON" << QString();
    QTest::newRow("no ending") << "report"
                               << "report.csv" << QString();
    QTest::newRow("missing directory") << "gone/report.csv" << QString() << "gone/report.csv";
    QTest::newRow("dialog cancelled") << QString() << QString() << QString();
}

void CollectionWindowTest::exportReport() {
    QFETCH(QString, name);
    QFETCH(QString, written);
    QFETCH(QString, failure);
    alone = std::make_unique<CollectionWindow>();
    alone->show();
    alone->setDirectory(path("games/verified.gba").toStdString());
    runCheck(alone.get());

    // The save dialog is answered as a user would: a name typed, or Cancel.
    QTimer::singleShot(0, this, [this, name] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path(name));
        static_cast<QDialog*>(dialog)->accept();
    });
    QString told;
    if (!failure.isEmpty())
        answerNextMessageBox(QMessageBox::Ok, &told);
    QTest::mouseClick(child<QPushButton>("cmdExport"), Qt::LeftButton);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY2(told.contains(failure) && (failure.isEmpty() || told.contains("No such file")),
             qPrintable(told));
    const QStringList files = QDir(dir->path()).entryList({"report*"}, QDir::Files);
    QCOMPARE(files, written.isEmpty() ? QStringList() : QStringList{written});
    if (written.isEmpty())
        return;
    // The format follows the name (the report's bytes are the core's to test).
    QFile report(path(written));
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray bytes = report.readAll();
    QVERIFY2(bytes.startsWith(written.endsWith(".csv") ? "File,Title,Game code," : "[\n  {") &&
                 bytes.contains("verified.gba"),
             bytes.constData());
}

void CollectionWindowTest::progressText_data() {
    QTest::addColumn<QList<quint64>>("figures"); // files done, of, bytes done, of
    QTest::addColumn<bool>("counting");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("started") << QList<quint64>{0, 3, 0, 12000000} << false << 0.0
                             << "0 of 3 files, 0.0 of 12.0 MB";
    QTest::newRow("half way") << QList<quint64>{12, 200, 48000000, 800000000} << false << 0.5
                              << "12 of 200 files, 48.0 of 800.0 MB, 96.0 MB/s, 8 s left";
    QTest::newRow("still counting") << QList<quint64>{1, 1, 4000000, 5000000} << true << 2.0
                                    << "1 of 1 file so far, 4.0 of 5.0 MB, 2.0 MB/s";
    QTest::newRow("minutes left") << QList<quint64>{1, 9, 1000000, 186000000} << false << 1.0
                                  << "1 of 9 files, 1.0 of 186.0 MB, 1.0 MB/s, 3 min 5 s left";
    QTest::newRow("hours left") << QList<quint64>{1, 9, 1000000, 7621000000} << false << 1.0
                                << "1 of 9 files, 1.0 of 7621.0 MB, 1.0 MB/s, 2 h 7 min left";
    QTest::newRow("done") << QList<quint64>{3, 3, 12000000, 12000000} << false << 4.0
                          << "3 of 3 files, 12.0 of 12.0 MB, 3.0 MB/s";
}

void CollectionWindowTest::progressText() {
    QFETCH(QList<quint64>, figures);
    QFETCH(bool, counting);
    QFETCH(double, seconds);
    QFETCH(QString, text);
    const CheckProgress progress{.filesDone = figures[0],
                                 .filesTotal = figures[1],
                                 .bytesDone = figures[2],
                                 .bytesTotal = figures[3],
                                 .counting = counting};
    QCOMPARE(QString::fromStdString(kelvo::progressText(progress, seconds)), text);
}

// Run at each display scale too (see CMakeLists.txt): no caption cut off,
// and every frame drawn whole. At a fractional device pixel ratio the
// table's frame is left out: the window is resizable, so the table lands on
// fractions of a device pixel, where Qt paints its contents over one side
// of its frame.
void CollectionWindowTest::framesDrawnWhole() {
    alone = std::make_unique<CollectionWindow>();
    alone->show();
    QVERIFY(QTest::qWaitForWindowExposed(alone.get()));
    alone->setDirectory(path("games").toStdString());
    runCheck(alone.get());
    for (const QPushButton* button : alone->findChildren<QPushButton*>())
        QVERIFY2(!button->isVisible() || button->width() >= button->sizeHint().width(),
                 qPrintable(button->text()));
    if (alone->devicePixelRatioF() != std::floor(alone->devicePixelRatioF()))
        child<QTableView>("tblRows")->setObjectName(QString()); // not judged
    const QString unframed = unframedControls(alone.get());
    QVERIFY2(unframed.isEmpty(), qPrintable(unframed));
}

QTEST_MAIN(CollectionWindowTest)
#include "tst_collectionwindow.moc"
