// Renders both windows, showing sample images, to PNG files for the
// documentation:  kelvo-screenshots OUTPUT_DIRECTORY
#include "app/artwork.h"
#include "windowkit/filelist.h"
#include "headerwin/headerwindow.h"
#include "headerwin/imagedetailsdialog.h"
#include "listwin/romlistwindow.h"
#include "romheader/romheader.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>

namespace {

void writeSample(const QString& path, const char* title, const char* gameCode, const char* maker,
                 qint64 size) {
    QByteArray head(0xC0, '\0');
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
    QDir::setCurrent(roms);

    kelvo::HeaderWindow header;
    header.setBanner(kelvo::bannerPixmap());
    header.setListWindowFactory([](QWidget* owner) { return new kelvo::RomListWindow(owner); });
    header.show();
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
    bool ok = save(&header, output + QStringLiteral("/header-window.png"));

    header.findChild<QAction*>(QStringLiteral("actImageDetails"))->trigger();
    if (auto* details = header.findChild<kelvo::ImageDetailsDialog*>()) {
        (void)QTest::qWaitForWindowExposed(details);
        ok = save(details, output + QStringLiteral("/image-details.png")) && ok;
        details->close();
    }

    header.showListWindow();
    QWidget* list = header.listWindow();
    (void)QTest::qWaitForWindowExposed(list);
    QTest::mouseClick(list->findChild<QPushButton*>(QStringLiteral("cmdMake")), Qt::LeftButton);
    ok = save(list, output + QStringLiteral("/list-window.png")) && ok;
    return ok ? 0 : 1;
}
