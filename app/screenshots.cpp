// Renders the windows and the Checksum Lists dialog, showing sample images
// held against a sample list, to PNG files for the documentation:
//   kelvo-screenshots OUTPUT_DIRECTORY
#include "app/artwork.h"
#include "checksumwin/checksumlistsdialog.h"
#include "checksumwin/loadedlists.h"
#include "collectionwin/collectionwindow.h"
#include "collectionwin/headerhookup.h"
#include "headerwin/headerwindow.h"
#include "headerwin/imagedetailsdialog.h"
#include "listwin/romlistwindow.h"
#include "romheader/imageedit.h"
#include "romheader/imageinfo.h"
#include "romheader/imagescan.h"
#include "romheader/romheader.h"
#include "windowkit/filelist.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>

namespace {

void writeSample(const QString& path, const char* title, const char* gameCode, const char* maker,
                 qint64 size) {
    QByteArray head(0xC0, '\0');
    // A dump has the console's boot logo; without it every row would read "logo invalid".
    std::memcpy(head.data() + kelvo::kLogoOffset, kelvo::kBootLogo.data(), kelvo::kLogoLength);
    std::memcpy(head.data() + kelvo::kTitleOffset, title,
                std::min<std::size_t>(std::strlen(title), 12));
    std::memcpy(head.data() + kelvo::kGameTypeOffset, gameCode, 4);
    std::memcpy(head.data() + kelvo::kMakerOffset, maker, 2);
    head[0xB2] = char(0x96);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(head.constData());
    head[kelvo::kCheckOffset] =
        char(kelvo::headerCheck(std::span<const std::uint8_t, kelvo::kCheckedLength>(
            bytes + kelvo::kTitleOffset, kelvo::kCheckedLength)));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(head);
        file.resize(size);
    }
}

// A clrmamepro list naming `image` (a verified dump) as `name`.
void writeList(const QString& path, const QString& image, const char* name) {
    const kelvo::ImageScan scan = kelvo::scanImage(QFile::encodeName(image).toStdString());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QStringLiteral("clrmamepro ( name \"Homebrew - Game Boy Advance\" version "
                              "\"2026.08.01\" )\ngame ( name \"%1\" rom ( name \"%1.gba\" "
                              "size %2 crc %3 sha1 %4 flags verified ) )\n")
                   .arg(QString::fromLatin1(name))
                   .arg(scan.size)
                   .arg(scan.crc32, 8, 16, QLatin1Char('0'))
                   .arg(QString::fromStdString(kelvo::hexText(scan.sha1)))
                   .toUtf8());
}

bool save(QWidget* window, const QString& path) {
    if (!window->grab().save(path)) {
        std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(kelvo::windowIcon());
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(output);

    QTemporaryDir samples;
    const QString roms = samples.filePath(QStringLiteral("roms"));
    QDir().mkpath(roms);
    QDir().mkpath(roms + QStringLiteral("/japan"));
    QDir().mkpath(roms + QStringLiteral("/europe"));
    writeSample(roms + "/sample.gba", "SAMPLE TITLE", "AXYJ", "01", 4194304);
    writeSample(roms + "/puzzle.gba", "PUZZLE QUEST", "BPQE", "08", 8388608);
    writeSample(roms + "/racer.agb", "RACER", "ARCP", "7Z", 16777216);
    writeSample(roms + "/homebrew.bin", "HOMEBREW", "AHBE", "00", 3000000);
    writeSample(roms + "/demo.bin", "DEMO", "ADME", "01", 1048576);
    // Below the header window's directory: the collection check shows them.
    writeSample(roms + "/europe/sample.gba", "SAMPLE TITLE", "AXYJ", "01", 4194304);
    writeSample(roms + "/japan/puzzle2.gba", "PUZZLE QUEST", "BPQJ", "08", 8388608);
    if (QFile broken(roms + "/japan/puzzle2.gba"); broken.open(QIODevice::ReadWrite)) {
        broken.seek(kelvo::kCheckOffset); // a header whose check byte is off by one
        char check = 0;
        broken.getChar(&check);
        broken.seek(kelvo::kCheckOffset);
        broken.putChar(char(check + 1));
    }
    QDir::setCurrent(roms);
    const QString datFile = samples.filePath(QStringLiteral("homebrew.dat"));
    writeList(datFile, roms + "/sample.gba", "Sample Title (World)");
    QFile configured(samples.filePath(QStringLiteral("checksum-lists")));
    if (configured.open(QIODevice::WriteOnly))
        configured.write(QFile::encodeName(datFile) + '\n');
    configured.close();

    kelvo::LoadedLists lists(QFile::encodeName(configured.fileName()).toStdString(),
                             QFile::encodeName(samples.filePath("hashes.sqlite3")).toStdString());
    kelvo::HeaderWindow header;
    header.setBanner(kelvo::bannerPixmap());
    header.setLoadedLists(&lists);
    header.setListWindowFactory(
        [&lists](QWidget* owner) { return new kelvo::RomListWindow(owner, &lists); });
    kelvo::attachCollectionWindow(header, &lists);
    header.show();
    lists.start();
    (void)QTest::qWaitForWindowExposed(&header);
    auto* files = header.findChild<kelvo::FileList*>(QStringLiteral("File1"));
    const auto& names = files->names();
    const auto it = std::find(names.begin(), names.end(), std::string("sample.gba"));
    if (it != names.end()) {
        const QModelIndex index = files->model()->index(int(it - names.begin()), 0);
        QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualRect(index).center());
    }
    // Writing the title back as it is puts a line in the status bar.
    QTest::mouseClick(header.findChild<QPushButton*>(QStringLiteral("cmdEdit")), Qt::LeftButton);
    auto* listed = header.findChild<QLabel*>(QStringLiteral("lbllist"));
    (void)QTest::qWaitFor([listed] { return listed && listed->text().contains(':'); });
    bool ok = save(&header, output + QStringLiteral("/header-window.png"));

    header.findChild<QAction*>(QStringLiteral("actImageDetails"))->trigger();
    if (auto* details = header.findChild<kelvo::ImageDetailsDialog*>()) {
        (void)QTest::qWaitForWindowExposed(details);
        ok = save(details, output + QStringLiteral("/image-details.png")) && ok;
        details->close();
    }

    header.findChild<QAction*>(QStringLiteral("actChecksumLists"))->trigger();
    if (auto* dialog = header.findChild<kelvo::ChecksumListsDialog*>()) {
        (void)QTest::qWaitForWindowExposed(dialog);
        ok = save(dialog, output + QStringLiteral("/checksum-lists.png")) && ok;
        dialog->close();
    }

    header.showListWindow();
    QWidget* list = header.listWindow();
    (void)QTest::qWaitForWindowExposed(list);
    if (auto* listNames = list->findChild<QCheckBox*>(QStringLiteral("chkList")))
        listNames->setChecked(true);
    QTest::mouseClick(list->findChild<QPushButton*>(QStringLiteral("cmdMake")), Qt::LeftButton);
    ok = save(list, output + QStringLiteral("/list-window.png")) && ok;

    header.showCollectionWindow();
    auto* collection = qobject_cast<kelvo::CollectionWindow*>(header.collectionWindow());
    (void)QTest::qWaitForWindowExposed(collection);
    collection->checkPath(QFile::encodeName(roms).toStdString());
    (void)QTest::qWaitFor([collection] { return !collection->busy(); }, 20000);
    QTest::qWait(50); // the layout takes the progress row away
    ok = save(collection, output + QStringLiteral("/collection-window.png")) && ok;
    return ok ? 0 : 1;
}
