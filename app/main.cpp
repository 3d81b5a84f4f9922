#include "app/artwork.h"
#include "headerwin/headerwindow.h"
#include "windowkit/windowkit.h"
#include "listwin/romlistwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The program's own options. Qt's (-platform, -style...) are taken out by
// QApplication before the second parse; the first parse, made before there
// is one, only looks for --help and --version.
struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Shows this help and exits.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Shows the version and exits.")};

    CommandLine() {
        parser.setApplicationDescription(
            QStringLiteral("Shows and edits the cartridge header of Game Boy Advance ROM images."));
        // Qt's options are single-dash words: "-reverse" must not read as -r -e -v...
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
        parser.addPositionalArgument(
            QStringLiteral("PATH"),
            QStringLiteral("An image to open as if clicked, or a directory to start in."),
            QStringLiteral("[PATH]"));
    }
};

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    return arguments;
}

// The PATH arguments as the bytes given: a name need not be UTF-8, and a
// QString would change one that is not. The program's options take no
// values, so everything but an option is a path.
std::vector<std::string> pathsOf(int argc, char* argv[]) {
    std::vector<std::string> paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (optionsEnded || argument == "-" || !argument.starts_with('-'))
            paths.emplace_back(argument);
    }
    return paths;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Kelvo-GBA"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVO_VERSION));

    // --help and --version work without a display, so before QApplication.
    CommandLine line;
    (void)line.parser.parse(argumentsOf(argc, argv));
    if (line.parser.isSet(line.help) || line.parser.isSet(line.version)) {
        const QCoreApplication core(argc, argv);
        if (line.parser.isSet(line.help))
            line.parser.showHelp(EXIT_SUCCESS);
        line.parser.showVersion();
    }

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("kelvo-gba"));
    QApplication::setWindowIcon(kelvo::windowIcon());
    // QApplication has taken its own options out of argv.
    if (!line.parser.parse(argumentsOf(argc, argv))) {
        std::fprintf(stderr, "%s\n", qPrintable(line.parser.errorText()));
        return EXIT_FAILURE;
    }

    kelvo::showBusyCursorDuringWaits();
    kelvo::HeaderWindow window;
    window.setBanner(kelvo::bannerPixmap());
    window.setListWindowFactory([](QWidget* owner) { return new kelvo::RomListWindow(owner); });
    window.show();
    window.openPaths(pathsOf(argc, argv));
    return app.exec();
}
