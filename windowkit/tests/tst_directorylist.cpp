// The directory list: its entries, and when Path changes and Change is raised.
#include "listtestsupport.h"
#include "romheader/dirlist.h"
#include "romheader/romheader.h"
#include "windowkit/directorylist.h"

#include <QDir>
#include <QFileInfo>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

#include <unistd.h>

using kelvo::DirectoryList;

class DirectoryListTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsAncestorsThenSubdirectories();
    void doubleClickOpensEntry_data();
    void doubleClickOpensEntry();
    void singleClickOnlyMovesHighlight();
    void enterOpensHighlightedEntry_data();
    void enterOpensHighlightedEntry();
    void setPathNormalises_data();
    void setPathNormalises();
    void vanishedEntryReportsFailure_data();
    void vanishedEntryReportsFailure();
    void refreshListsNewSubdirectories();
    void startsAtWorkingDirectory();
    void rowsAreDrawnAsTheStyleDrawsThem_data();
    void rowsAreDrawnAsTheStyleDrawsThem();

private:
    [[nodiscard]] int rowOf(const std::string& path) const;
    [[nodiscard]] QPoint centreOf(int row) const;
    void doubleClick(int row);

    std::unique_ptr<QTemporaryDir> tmp_;
    std::string dir_; // the temporary directory, without symbolic links
    std::unique_ptr<DirectoryList> list_;
};

void DirectoryListTest::init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    dir_ = QFileInfo(tmp_->path()).canonicalFilePath().toStdString();
    QDir root(tmp_->path());
    for (const char* name : {"beta", "Alpha", ".hidden", "gamma"})
        QVERIFY(root.mkdir(name));
    kelvo::test::makeFiles(tmp_->path(), {"file.gba"});

    list_ = std::make_unique<DirectoryList>();
    list_->setObjectName("Dir1");
    list_->setPath(dir_);
    list_->resize(240, 400);
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
}

void DirectoryListTest::cleanup() {
    list_.reset();
    tmp_.reset();
}

int DirectoryListTest::rowOf(const std::string& path) const {
    for (int row = 0; row < list_->ListCount(); ++row) {
        if (list_->entryPath(row) == path)
            return row;
    }
    return -1;
}

QPoint DirectoryListTest::centreOf(int row) const {
    return list_->visualRect(list_->model()->index(row, 0)).center();
}

// What a window system delivers for a double-click: the second press comes
// with a double-click event.
void DirectoryListTest::doubleClick(int row) {
    QWidget* viewport = list_->viewport();
    const QPoint at = centreOf(row);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mousePress(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
}

void DirectoryListTest::showsAncestorsThenSubdirectories() {
    std::vector<std::string> expected = kelvo::ancestorsOf(dir_);
    const int current = int(expected.size()) - 1;
    for (const char* name : {"Alpha", "beta", "gamma"})
        expected.push_back(kelvo::joinPath(dir_, name));

    QCOMPARE(list_->ListCount(), int(expected.size()));
    for (int row = 0; row < list_->ListCount(); ++row)
        QCOMPARE(list_->entryPath(row), expected[std::size_t(row)]);

    const auto text = [&](int row) { return list_->model()->index(row, 0).data().toString(); };
    QCOMPARE(text(0), QString("/"));
    QCOMPARE(text(current), QFileInfo(tmp_->path()).fileName());
    QCOMPARE(text(current + 1), QString("Alpha"));
    QCOMPARE(list_->currentIndex().row(), current);
    QVERIFY2(list_->selectionModel()->isSelected(list_->currentIndex()),
             "the current directory is highlighted");
}

void DirectoryListTest::doubleClickOpensEntry_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("changes");

    QTest::newRow("subdirectory") << "Alpha" << true;
    QTest::newRow("parent") << ".." << true;
    QTest::newRow("root") << "/" << true;
    QTest::newRow("current directory") << "." << false;
}

void DirectoryListTest::doubleClickOpensEntry() {
    QFETCH(QString, entry);
    QFETCH(bool, changes);

    const std::string target =
        entry == "/" ? std::string("/")
                     : QDir::cleanPath(QString::fromStdString(dir_) + '/' + entry).toStdString();
    const int row = rowOf(target);
    QVERIFY2(row >= 0, target.c_str());

    QSignalSpy change(list_.get(), &DirectoryList::Change);
    QSignalSpy failed(list_.get(), &DirectoryList::failed);
    doubleClick(row);
    QCOMPARE(list_->Path(), changes ? target : dir_);
    QCOMPARE(change.count(), changes ? 1 : 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(list_->entryPath(list_->currentIndex().row()), list_->Path());
}

void DirectoryListTest::singleClickOnlyMovesHighlight() {
    QSignalSpy change(list_.get(), &DirectoryList::Change);
    const int row = rowOf(kelvo::joinPath(dir_, "beta"));
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, centreOf(row));
    QCOMPARE(list_->currentIndex().row(), row);
    QCOMPARE(list_->Path(), dir_);
    QCOMPARE(change.count(), 0);
}

void DirectoryListTest::enterOpensHighlightedEntry_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("return") << int(Qt::Key_Return);
    QTest::newRow("enter") << int(Qt::Key_Enter);
}

void DirectoryListTest::enterOpensHighlightedEntry() {
    QFETCH(int, key);

    QSignalSpy change(list_.get(), &DirectoryList::Change);
    QTest::keyClick(list_.get(), Qt::Key_Down); // from the current directory to "Alpha"
    QCOMPARE(change.count(), 0);
    QTest::keyClick(list_.get(), Qt::Key(key));
    QCOMPARE(list_->Path(), kelvo::joinPath(dir_, "Alpha"));
    QCOMPARE(change.count(), 1);
}

void DirectoryListTest::setPathNormalises_data() {
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("changes");

    QTest::newRow("same path") << ""
                               << "" << false;
    QTest::newRow("trailing separator") << "/"
                                        << "" << false;
    QTest::newRow("dot and dot-dot") << "/./Alpha/.."
                                     << "" << false;
    QTest::newRow("doubled separators") << "//beta//"
                                        << "/beta" << true;
    QTest::newRow("up then down") << "/gamma/../beta/."
                                  << "/beta" << true;
}

void DirectoryListTest::setPathNormalises() {
    QFETCH(QString, suffix);
    QFETCH(QString, expected);
    QFETCH(bool, changes);

    QSignalSpy change(list_.get(), &DirectoryList::Change);
    list_->setPath(dir_ + suffix.toStdString());
    QCOMPARE(list_->Path(), dir_ + expected.toStdString());
    QCOMPARE(change.count(), changes ? 1 : 0);

    list_->setPath("/");
    QCOMPARE(list_->Path(), std::string("/")); // a root keeps its separator
}

void DirectoryListTest::vanishedEntryReportsFailure_data() {
    QTest::addColumn<bool>("byKeyboard");
    QTest::newRow("double-click") << false;
    QTest::newRow("enter") << true;
}

void DirectoryListTest::vanishedEntryReportsFailure() {
    QFETCH(bool, byKeyboard);

    const std::string vanished = kelvo::joinPath(dir_, "beta");
    const int row = rowOf(vanished);
    QVERIFY(QDir(tmp_->path()).rmdir("beta")); // after it was listed
    const int count = list_->ListCount();

    QSignalSpy change(list_.get(), &DirectoryList::Change);
    QSignalSpy failed(list_.get(), &DirectoryList::failed);
    if (byKeyboard) {
        list_->setCurrentIndex(list_->model()->index(row, 0));
        QTest::keyClick(list_.get(), Qt::Key_Return);
    } else {
        doubleClick(row);
    }
    QCOMPARE(failed.count(), 1);
    const QString message = failed.at(0).at(0).toString();
    QVERIFY2(message.contains(QString::fromStdString(vanished)), qPrintable(message));
    QCOMPARE(list_->Path(), dir_);
    QCOMPARE(list_->ListCount(), count);
    QCOMPARE(change.count(), 0);

    QVERIFY_THROWS_EXCEPTION(kelvo::FileError, list_->setPath(vanished));
    QCOMPARE(list_->Path(), dir_);
}

void DirectoryListTest::refreshListsNewSubdirectories() {
    const int alpha = rowOf(kelvo::joinPath(dir_, "Alpha"));
    list_->setCurrentIndex(list_->model()->index(alpha + 1, 0)); // "beta"
    QSignalSpy change(list_.get(), &DirectoryList::Change);
    QVERIFY(QDir(tmp_->path()).mkdir("aardvark"));
    list_->Refresh();
    QCOMPARE(list_->entryPath(alpha), kelvo::joinPath(dir_, "aardvark"));
    QCOMPARE(list_->entryPath(list_->currentIndex().row()), kelvo::joinPath(dir_, "beta"));
    QCOMPARE(change.count(), 0);
}

void DirectoryListTest::startsAtWorkingDirectory() {
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QString::fromStdString(kelvo::joinPath(dir_, "gamma"))));
    {
        const DirectoryList here;
        QCOMPARE(here.Path(), kelvo::joinPath(dir_, "gamma"));
    }
    // A working directory that was removed leaves a list that still works.
    QVERIFY(QDir(tmp_->path()).rmdir("gamma"));
    {
        DirectoryList gone;
        QVERIFY(gone.ListCount() >= 1);
        gone.setPath(dir_);
        QCOMPARE(gone.Path(), dir_);
    }
    QVERIFY(QDir::setCurrent(previous));
}

void DirectoryListTest::rowsAreDrawnAsTheStyleDrawsThem_data() {
    QTest::addColumn<bool>("rightToLeft");
    QTest::addColumn<bool>("longestLast");
    QTest::newRow("left to right") << false << false;
    QTest::newRow("right to left") << true << false;
    QTest::newRow("open directory with a long name and none below it") << false << true;
}

void DirectoryListTest::rowsAreDrawnAsTheStyleDrawsThem() {
    QFETCH(bool, rightToLeft);
    QFETCH(bool, longestLast);

    if (longestLast) {
        const QString name = QStringLiteral("A Directory Named Longer Than The List Is Wide");
        QVERIFY(QDir(tmp_->path()).mkdir(name));
        list_->setPath(dir_ + "/" + name.toStdString());
    }
    list_->setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    list_->resize(120, 400); // the deepest names elided
    list_->activateWindow();
    list_->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(list_.get()));

    // Laid out again at the new width: a long name is elided, not scrolled.
    QTRY_VERIFY(!list_->horizontalScrollBar()->isVisible());
    const auto [ours, styles] = kelvo::test::rowsBothWays(list_.get());
    QCOMPARE(ours, styles);
}

QTEST_MAIN(DirectoryListTest)
#include "tst_directorylist.moc"
