#include "app/artwork.h"
#include "app/commandline.h"
#include "app/startheap.h"
#include "checksumwin/loadedlists.h"
#include "collectionwin/headerhookup.h"
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"
#include "windowkit/windowkit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The program's own options. Qt's (-platform, -style...) are taken out by
// QApplication before the second parse; the first parse, made before there
// is one, only looks for --help and --version.
struct Options {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Shows this help and exits.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Shows the version and exits.")};
    QCommandLineOption dat{QStringLiteral("dat"),
                           QStringLiteral("Holds images against the checksum list FILE too, for "
                                          "this run only (Logiqx XML, clrmamepro text or a .zip "
                                          "holding one). May be given more than once."),
                           QStringLiteral("FILE")};

    Options() {
        parser.setApplicationDescription(
            QStringLiteral("Shows and edits the cartridge header of Game Boy Advance ROM images."));
        // Qt's options are single-dash words: "-reverse" must not read as -r -e -v...
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
        parser.addOption(dat);
        parser.addPositionalArgument(
            QStringLiteral("PATH"),
            QStringLiteral("An image to open as if clicked, a directory to start in, or a .zip "
                           "archive to check in the Check Collection window."),
            QStringLiteral("[PATH]"));
    }
};

QStringList textsOf(const std::vector<std::string>& arguments) {
    QStringList texts;
    for (const std::string& argument : arguments)
        texts << QFile::decodeName(QByteArray::fromStdString(argument));
    return texts;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Kelvo-GBA"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVO_VERSION));
    kelvo::CommandLine commandLine(argc, argv);

    // --help and --version work without a display, so before QApplication.
    Options line;
    (void)line.parser.parse(textsOf(commandLine.programArguments()));
    if (line.parser.isSet(line.help) || line.parser.isSet(line.version)) {
        const QCoreApplication core(commandLine.qtArgc(), commandLine.qtArgv());
        if (line.parser.isSet(line.help))
            line.parser.showHelp(EXIT_SUCCESS);
        line.parser.showVersion();
    }

    kelvo::prepareStartHeap();
    QApplication app(commandLine.qtArgc(), commandLine.qtArgv());
    QApplication::setDesktopFileName(QStringLiteral("kelvo-gba"));
    QApplication::setWindowIcon(kelvo::windowIcon());
    // QApplication has taken its own options out of what came before "--".
    const std::vector<std::string> arguments = commandLine.programArguments();
    if (!line.parser.parse(textsOf(arguments))) {
        std::fprintf(stderr, "%s\n", qPrintable(line.parser.errorText()));
        return EXIT_FAILURE;
    }

    kelvo::showBusyCursorDuringWaits();
    // Made before the windows and gone after them: they hash through its cache.
    kelvo::LoadedLists lists;
    lists.addForThisRun(kelvo::listsOf(arguments));
    kelvo::HeaderWindow window;
    window.setBanner(kelvo::bannerPixmap());
    window.setLoadedLists(&lists);
    window.setListWindowFactory(
        [&lists](QWidget* owner) { return new kelvo::RomListWindow(owner, &lists); });
    kelvo::attachCollectionWindow(window, &lists);
    // The lists are read once the window is on the screen.
    lists.startAfterFirstFrame(&window);
    window.show();
    window.openPaths(kelvo::pathsOf(arguments));
    return app.exec();
}
