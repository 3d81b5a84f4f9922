// The lists loaded in the background and the Checksum Lists dialog, on
// lists written in a fresh temporary directory, with the configured file and
// the cache there too.
#include "checksumwin/checksumlistsdialog.h"
#include "checksumwin/loadedlists.h"
#include "checksumwin/tests/listfixtures.h"
#include "testsupport.h"

#include <QDir>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace kelvo;
using namespace kelvo::test;

class ChecksumListsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addingShowsTheListOrWhyNot_data();
    void addingShowsTheListOrWhyNot();
    void removeTakesItOut();
    void changedListIsReadAgain();
    void datListsAreForThisRunOnly();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    QString configured() const {
        QFile file(path("config/checksum-lists"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // The table's row of `file`, one text per column; empty when not listed.
    QStringList row(const QString& file) const;
    void makeDialog();

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<LoadedLists> lists;
    std::unique_ptr<ChecksumListsDialog> dialog;
};

void ChecksumListsTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    writeText(path("test.dat"), kTestList);
    writeText(path("other.dat"), kOtherList);
    writeText(path("broken.dat"), kMalformedList);
    lists = std::make_unique<LoadedLists>(path("config/checksum-lists").toStdString(),
                                          path("hashes.sqlite3").toStdString());
    lists->start();
}

void ChecksumListsTest::cleanup() {
    dialog.reset();
    lists.reset();
    dir.reset();
}

void ChecksumListsTest::makeDialog() {
    dialog = std::make_unique<ChecksumListsDialog>(lists.get());
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
}

QStringList ChecksumListsTest::row(const QString& file) const {
    auto* table = control<QTableWidget>(dialog.get(), "lists");
    for (int r = 0; r < table->rowCount(); ++r) {
        if (!table->item(r, 3)->text().startsWith(file))
            continue;
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells << table->item(r, column)->text();
        return cells;
    }
    return {};
}

void ChecksumListsTest::addingShowsTheListOrWhyNot_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("dropped");      // else chosen through "Add..."
    QTest::addColumn<QStringList>("shown"); // Name, Version, Entries
    QTest::addColumn<QString>("problem");   // the Problem cell; the message box names the file too
    const QStringList good{"Test List", "2026.08.01", "6"}, none{"", "", ""};
    QTest::newRow("a good list") << "test.dat" << false << good << "";
    QTest::newRow("a good list, dropped") << "test.dat" << true << good << "";
    QTest::newRow("a malformed list")
        << "broken.dat" << false << none
        << "line 3: expected a size in decimal digits, found \"twelve\"";
    QTest::newRow("a malformed list, dropped")
        << "broken.dat" << true << none
        << "line 3: expected a size in decimal digits, found \"twelve\"";
    QTest::newRow("a missing file") << "none.dat" << false << none << "No such file or directory";
}

void ChecksumListsTest::addingShowsTheListOrWhyNot() {
    QFETCH(QString, file);
    QFETCH(bool, dropped);
    QFETCH(QStringList, shown);
    QFETCH(QString, problem);
    makeDialog();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Checksum Lists"));
    QSignalSpy failures(dialog.get(), &ChecksumListsDialog::failureReported);
    dialog->setFileChooser([&](QWidget*) { return QStringList{path(file)}; });
    QString told;
    if (!problem.isEmpty())
        answerNextMessageBox(QMessageBox::Ok, &told);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path(file))});
    if (dropped)
        QVERIFY(dropOn(dialog.get(), data));
    else
        QTest::mouseClick(control<QPushButton>(dialog.get(), "add"), Qt::LeftButton);

    // It stays configured either way: the file may be mended.
    QCOMPARE(configured(), path(file) + "\n");
    QTRY_VERIFY(!lists->loading());
    QTRY_COMPARE(failures.size(), problem.isEmpty() ? 0 : 1);
    const QStringList cells = row(path(file));
    QCOMPARE(cells.mid(0, 3), shown);
    QCOMPARE(cells.at(4), problem);
    const QString named = QStringLiteral("Cannot read the checksum list \"%1\": %2");
    QCOMPARE(told, problem.isEmpty() ? QString() : named.arg(path(file), problem));
    QCOMPARE(lists->lists()->lists().size(), problem.isEmpty() ? 1u : 0u);
}

void ChecksumListsTest::removeTakesItOut() {
    makeDialog();
    dialog->addLists({path("test.dat").toStdString(), path("other.dat").toStdString()});
    QTRY_VERIFY(!lists->loading());
    auto* table = control<QTableWidget>(dialog.get(), "lists");
    QCOMPARE(table->rowCount(), 2);
    auto* remove = control<QPushButton>(dialog.get(), "remove");
    QVERIFY2(!remove->isEnabled(), "Remove with nothing selected");
    table->selectRow(0);
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(row(path("other.dat")).at(0), QStringLiteral("Other List"));
    QCOMPARE(configured(), path("other.dat") + "\n");
    QCOMPARE(lists->lists()->lists().size(), 1u);
    QCOMPARE(lists->lists()->lists().front()->name, std::string("Other List"));
}

void ChecksumListsTest::changedListIsReadAgain() {
    QVERIFY(lists->add(path("other.dat").toStdString()));
    QTRY_COMPARE(lists->lists()->lists().size(), 1u);
    QCOMPARE(lists->lists()->lists().front()->entryCount(), 1u);
    // Another program replaces it (a download finishing), then breaks it.
    writeText(path("new.dat"), kTestList);
    QVERIFY(std::rename(qPrintable(path("new.dat")), qPrintable(path("other.dat"))) == 0);
    QTRY_COMPARE(lists->lists()->lists().size() == 1 ? lists->lists()->lists().front()->name
                                                     : std::string(),
                 std::string("Test List"));
    writeText(path("other.dat"), kMalformedList);
    QTRY_VERIFY(lists->lists()->empty());
    QCOMPARE(lists->entries().front().reason,
             QStringLiteral("line 3: expected a size in decimal digits, found \"twelve\""));
}

void ChecksumListsTest::datListsAreForThisRunOnly() {
    QVERIFY(QDir::setCurrent(dir->path()));
    lists->addForThisRun({"test.dat"});
    makeDialog();
    QTRY_VERIFY(!lists->loading());
    QCOMPARE(row(path("test.dat")).at(3), path("test.dat") + " (this run only)");
    QVERIFY2(configured().isEmpty(), "a --dat list was written to the configured file");
    // Removed for this run, the configured file is not touched either.
    control<QTableWidget>(dialog.get(), "lists")->selectRow(0);
    QTest::mouseClick(control<QPushButton>(dialog.get(), "remove"), Qt::LeftButton);
    QVERIFY(!lists->anyListed());
    QVERIFY(!QFile::exists(path("config/checksum-lists")));
}

QTEST_MAIN(ChecksumListsTest)
#include "tst_checksumlists.moc"
