// Starts as the program does, up to QApplication, and prints what each side
// of the command line got: whether Qt took -reverse, the paths the program
// would open and the lists given with --dat. CTest runs it once per command line.
#include "app/commandline.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    kelvo::CommandLine commandLine(argc, argv);
    const QApplication app(commandLine.qtArgc(), commandLine.qtArgv());
    std::printf("layout %s\n", QApplication::isRightToLeft() ? "right-to-left" : "left-to-right");
    for (const std::string& path : kelvo::pathsOf(commandLine.programArguments()))
        std::printf("path [%s]\n", path.c_str());
    for (const std::string& list : kelvo::listsOf(commandLine.programArguments()))
        std::printf("list [%s]\n", list.c_str());
    std::printf("end\n");
    return 0;
}
