// Bad input met through both windows: each entry is clicked, retitled,
// copied to its title's name and listed. Every case must end in a correct
// display or a clear message, leave the program usable, and change no byte
// on disk but those the user asked to change.
#include "badinputcases.h"
#include "faultinjection.h"
#include "programdriver.h"
#include "treesnapshot.h"

#include "windowkit/directorylist.h"
#include "windowkit/filelist.h"
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>

using namespace kelvo::test;

class BadInputTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void badEntryEndsCleanly_data() { addRows(namedBadInputs()); }
    void badEntryEndsCleanly();
    void everyTitleByteShowsAndCopiesSafely_data() { addRows(titleByteInputs()); }
    void everyTitleByteShowsAndCopiesSafely();
    void startsInAnUnusableWorkingDirectory_data();
    void startsInAnUnusableWorkingDirectory();

private:
    static void addRows(const std::vector<BadInput>& cases);
    void runCase(const BadInput& c);
    void drive(const BadInput& c, ProgramDriver& program);
    static void expectFailure(ProgramDriver& program, const char* step, const QString& reason,
                              const QByteArray& place);
    static void expectNoFailure(ProgramDriver& program, const char* step);

    std::unique_ptr<QTemporaryDir> dir;
    Paths paths;
    QString previousDirectory;
};

void BadInputTest::initTestCase() {
    QLocale::setDefault(QLocale::c());
}

void BadInputTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    paths.root = QFile::encodeName(dir->path());
    paths.roms = paths.root + "/roms";
    paths.check = paths.root + "/check";
    QVERIFY(::mkdir(paths.roms.constData(), 0755) == 0);
    QVERIFY(::mkdir(paths.check.constData(), 0755) == 0);
    writeImage(QFile::decodeName(paths.check + "/good.bin"), {.title = "GOOD SAMPLE"});
    writeBytes(QFile::decodeName(paths.root + "/list.txt"),
               {kEarlierList.begin(), kEarlierList.end()});
    previousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
}

void BadInputTest::cleanup() {
    // An immutable file would outlive its temporary directory.
    if (DIR* roms = ::opendir(paths.roms.constData())) {
        while (const dirent* entry = ::readdir(roms)) {
            if (entry->d_type == DT_REG)
                (void)setImmutable(paths.roms + '/' + entry->d_name, false);
        }
        ::closedir(roms);
    }
    QDir::setCurrent(previousDirectory);
    // QTemporaryDir cannot remove a name that is not UTF-8; the library can.
    std::error_code ignored;
    std::filesystem::remove_all(paths.root.toStdString(), ignored);
    dir.reset();
}

void BadInputTest::addRows(const std::vector<BadInput>& cases) {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < cases.size(); ++i)
        QTest::newRow(cases[i].row.constData()) << int(i);
}

void BadInputTest::badEntryEndsCleanly() {
    QFETCH(int, index);
    runCase(namedBadInputs()[std::size_t(index)]);
}

void BadInputTest::everyTitleByteShowsAndCopiesSafely() {
    QFETCH(int, index);
    runCase(titleByteInputs()[std::size_t(index)]);
}

void BadInputTest::expectFailure(ProgramDriver& program, const char* step, const QString& reason,
                                 const QByteArray& place) {
    const QStringList failures = program.takeFailures();
    QVERIFY2(failures.size() == 1,
             qPrintable(QStringLiteral("%1: expected one message about \"%2\", got %3")
                            .arg(step, reason, failures.join(" | "))));
    QVERIFY2(failures[0].contains(reason),
             qPrintable(QStringLiteral("%1: %2").arg(step, failures[0])));
    QVERIFY2(
        failures[0].contains(QFile::decodeName(place)),
        qPrintable(
            QStringLiteral("%1: the message does not name the place: %2").arg(step, failures[0])));
}

void BadInputTest::expectNoFailure(ProgramDriver& program, const char* step) {
    const QStringList failures = program.takeFailures();
    QVERIFY2(failures.isEmpty(),
             qPrintable(QStringLiteral("%1 reported: %2").arg(step, failures.join(" | "))));
}

void BadInputTest::runCase(const BadInput& c) {
    const QByteArray file = paths.roms + '/' + c.name;
    try {
        const QString skip = c.when == When::AfterListing ? makeImage(file, {.title = "LISTED"})
                                                          : c.make(paths, file);
        if (!skip.isEmpty())
            QSKIP(qPrintable(skip));
    } catch (const std::exception& e) {
        QFAIL(e.what());
    }

    ProgramDriver program;
    QVERIFY2(program.browseHeaderTo(paths.roms), "the header window cannot browse to the images");
    QVERIFY2(program.browseListTo(paths.roms), "the list window cannot browse to the images");
    if (c.when == When::AfterListing) {
        try {
            if (const QString skip = c.make(paths, file); !skip.isEmpty())
                QSKIP(qPrintable(skip));
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
    }

    const TreeSnapshot before = snapshotTree(paths.root);
    {
        const ModesEnforced modes;
        if (c.needsModes && !modes.active())
            QSKIP("file modes cannot bind this root test run: dropping CAP_DAC_OVERRIDE failed");
        drive(c, program);
    }
    if (QTest::currentTestFailed())
        return;
    const TreeSnapshot after = snapshotTree(paths.root);

    AllowList allowed{{"list.txt", Allowed::Appended}};
    const QByteArray relative = "roms/" + c.name;
    if (c.listed && c.shown && c.editFails.isEmpty()) {
        allowed[relative] = Allowed::TitleAndCheck;
        const NodeState& old = before.at(relative);
        const NodeState& now = after.at(relative);
        const QByteArray expected = padded(c.typed ? c.typed->toLatin1() : upToNul(c.title));
        QCOMPARE(now.header.left(12), expected);
        if (checkValid(old.header))
            QVERIFY2(checkValid(now.header), "a valid check byte must stay valid");
        else
            QCOMPARE(now.header.at(29), old.header.at(29));
    }
    if (c.listed && c.shown && c.renameFails.isEmpty()) {
        const QString boxText = c.typed ? *c.typed : c.shown->title;
        const QByteArray copy = "roms/" + boxText.toUtf8() + ".gba";
        allowed[copy] = Allowed::Created;
        QVERIFY2(after.count(copy) == 1, qPrintable("no copy named " + copy));
        QVERIFY2(after.at(copy) == after.at(relative), "the copy differs from its image");
    }
    const QStringList problems = unexpectedChanges(before, after, allowed);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));

    const QByteArray block =
        kCaptions + c.listRow + ' ' + (c.listRow.isEmpty() ? "0" : "1") + " \r\n";
    const QByteArray goodBlock = kCaptions + sampleRow("good.bin", "GOOD SAMPLE") + " 1 \r\n";
    QCOMPARE(after.at("list.txt").content, kEarlierList + block + goodBlock);
}

void BadInputTest::drive(const BadInput& c, ProgramDriver& program) {
    const QByteArray file = paths.roms + '/' + c.name;
    const auto contains = [](const std::vector<std::string>& names, const QByteArray& name) {
        return std::find(names.begin(), names.end(), name.toStdString()) != names.end();
    };

    if (!c.listed) {
        QVERIFY2(!contains(program.headerFiles(), c.name), "the header window lists it");
        QVERIFY2(!contains(program.listFiles(), c.name), "the list window lists it");
        QVERIFY2(!program.pressEdit() && !program.pressRename(),
                 "Edit and Rename must stay disabled with nothing clicked");
    } else {
        QCOMPARE(program.shownName(c.name), QString::fromUtf8(c.name));
        QVERIFY2(program.clickFile(c.name), "it is not listed");
        if (c.shown) {
            expectNoFailure(program, "click");
            const QStringList shown{program.shownText("txtheader"),
                                    program.shownText("lblsizembit"),
                                    program.shownText("lblsizemb"), program.shownText("lblcheck")};
            QCOMPARE(shown,
                     (QStringList{c.shown->title, c.shown->mbit, c.shown->mb, c.shown->check}));
        } else {
            expectFailure(program, "click", c.clickFails, file);
            for (const char* label : kValueLabels)
                QVERIFY2(
                    program.shownText(label).isEmpty(),
                    qPrintable(
                        QStringLiteral("%1 still shows a value after a failed click").arg(label)));
        }
        if (QTest::currentTestFailed())
            return;
        if (c.typed) {
            program.typeTitle(*c.typed);
            QCOMPARE(program.shownText("txtheader"), *c.typed);
        }

        if (!c.shown) {
            QVERIFY2(!program.pressEdit() && !program.pressRename(),
                     "Edit and Rename must stay disabled after a failed click");
        } else {
            QVERIFY2(program.pressEdit(), "Edit Header is disabled after a click");
            if (c.editFails.isEmpty())
                expectNoFailure(program, "Edit Header");
            else
                expectFailure(program, "Edit Header", c.editFails, file);
            if (QTest::currentTestFailed())
                return;

            QVERIFY2(program.pressRename(), "Rename is disabled after a click");
            if (c.renameFails.isEmpty())
                expectNoFailure(program, "Rename File To ROM Title");
            else
                expectFailure(program, "Rename File To ROM Title", c.renameFails, paths.roms);
            if (QTest::currentTestFailed())
                return;
        }
    }

    program.pressMakeList();
    if (c.listFails.isEmpty())
        expectNoFailure(program, "Make List");
    else
        expectFailure(program, "Make List", c.listFails, file);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(program.listStatus(), QStringLiteral("Listed %1 files in %2/list.txt")
                                       .arg(c.listRow.isEmpty() ? 0 : 1)
                                       .arg(QFile::decodeName(paths.root)));

    // Still usable: a good image elsewhere shows, and lists.
    QVERIFY2(program.browseHeaderTo(paths.check), "the header window cannot browse on");
    QVERIFY(program.clickFile("good.bin"));
    QCOMPARE(program.shownText("txtheader"), QStringLiteral("GOOD SAMPLE"));
    QCOMPARE(program.shownText("lblsizembit"), QStringLiteral("32Mbit"));
    QVERIFY2(program.browseListTo(paths.check), "the list window cannot browse on");
    program.pressMakeList();
    expectNoFailure(program, "Make List over good images");
    QVERIFY2(program.questions().isEmpty(),
             qPrintable("unexpected questions: " + program.questions().join(" | ")));
}

QTEST_MAIN(BadInputTest)
#include "tst_badinput.moc"

void BadInputTest::startsInAnUnusableWorkingDirectory_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unreadable") << "unreadable"
                                << "Permission denied";
    QTest::newRow("removed") << "removed"
                             << "No such file or directory";
}

// Started in a directory it cannot list, or one removed under it, the
// program says so and stays usable; it never ends on an uncaught error.
void BadInputTest::startsInAnUnusableWorkingDirectory() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QByteArray start = paths.root + "/start";
    QVERIFY(::mkdir(start.constData(), 0755) == 0);
    QVERIFY(QDir::setCurrent(QFile::decodeName(start)));
    std::unique_ptr<ModesEnforced> modes;
    if (kind == "unreadable") {
        QVERIFY(::chmod(start.constData(), 0311) == 0);
        modes = std::make_unique<ModesEnforced>();
        if (!modes->active())
            QSKIP("file modes cannot be made to bind this test run");
    } else {
        QVERIFY(::rmdir(start.constData()) == 0);
    }

    // Every message box is answered, those raised while the windows are built too.
    QStringList messages;
    QTimer boxWatch;
    connect(&boxWatch, &QTimer::timeout, [&messages] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            messages << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    boxWatch.start(5);

    auto header = std::make_unique<kelvo::HeaderWindow>();
    header->setListWindowFactory([](QWidget* owner) { return new kelvo::RomListWindow(owner); });
    header->show();
    QVERIFY(QTest::qWaitForWindowExposed(header.get()));
    QVERIFY2(!messages.isEmpty(), "starting where nothing can be listed must be reported");
    for (const QString& message : messages)
        QVERIFY2(message.contains(reason), qPrintable(message));

    // Still usable: browse elsewhere and show an image.
    auto* dirs = header->findChild<kelvo::DirectoryList*>("Dir1");
    dirs->setPath(paths.check.toStdString());
    auto* files = header->findChild<kelvo::FileList*>("File1");
    QCOMPARE(files->names(), std::vector<std::string>{"good.bin"});
    const QModelIndex first = files->model()->index(0, 0);
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualRect(first).center());
    QCOMPARE(header->findChild<QLineEdit*>("txtheader")->text(), QStringLiteral("GOOD SAMPLE"));

    if (kind == "removed") {
        // There is no working directory to put list.txt in: said, nothing written.
        messages.clear();
        header->showListWindow();
        QTest::mouseClick(header->listWindow()->findChild<QPushButton*>("cmdMake"), Qt::LeftButton);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.at(0).contains("working directory"), qPrintable(messages.at(0)));
        QVERIFY(!QFile::exists(QFile::decodeName(start)));
    }
    modes.reset();
}
