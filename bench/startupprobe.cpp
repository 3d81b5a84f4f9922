// Start-up probe for the benchmarks:
//   kelvo-startup-probe header   the program's own start: application, header window
//   kelvo-startup-probe empty    the same application with an empty QWidget
//   kelvo-startup-probe label    the same with a QWidget showing one line of text
// Each way the process exits with 0 right after the window's first painted
// frame, tearing nothing down, and prints its peak resident memory
// ("VmHWM: <n> kB") and its private part at that frame ("RssAnon: <n> kB").
// The benchmark reads these rather than the child's ru_maxrss, which on
// Linux also counts the memory of the process that spawned it.
#include "app/artwork.h"
#include "app/startheap.h"
#include "checksumwin/loadedlists.h"
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace {

// The resident high-water mark of this process image and its anonymous
// (private) resident memory now, from /proc/self/status.
void printMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:") || line.starts_with("RssAnon:"))
            std::printf("%s\n", line.c_str());
    }
}

// Prints the memory and leaves at once. The start ends at the first frame:
// nothing is torn down, or the time would include the teardown.
[[noreturn]] void leave(int status) {
    printMemory();
    std::fflush(stdout);
    std::_Exit(status);
}

// Leaves once the first paint event has been handled and its frame flushed,
// before any work queued meanwhile: an application's filter sees the event
// before the window's own, so this call is queued ahead of what the window
// starts after its first frame (the header window's reading of the lists).
class FirstFrame : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QMetaObject::invokeMethod(
                qApp, [] { leave(0); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen_ = false;
};

} // namespace

int main(int argc, char* argv[]) {
    const std::string_view mode = argc == 2 ? argv[1] : "";
    if (mode != "header" && mode != "empty" && mode != "label") {
        std::fprintf(stderr, "usage: kelvo-startup-probe header|empty|label\n");
        return 2;
    }

    // The program prepares its heap before anything else; the baselines do not.
    if (mode == "header")
        kelvo::prepareStartHeap();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvo-GBA"));
    QApplication::setDesktopFileName(QStringLiteral("kelvo-gba"));
    QApplication::setWindowIcon(kelvo::windowIcon());
    FirstFrame firstFrame;
    app.installEventFilter(&firstFrame);

    // As the program makes them: the configured lists (XDG_CONFIG_HOME) are
    // read after the first frame.
    std::unique_ptr<kelvo::LoadedLists> lists;
    std::unique_ptr<QWidget> window;
    if (mode == "header") {
        lists = std::make_unique<kelvo::LoadedLists>();
        auto header = std::make_unique<kelvo::HeaderWindow>();
        header->setBanner(kelvo::bannerPixmap());
        header->setLoadedLists(lists.get());
        header->setListWindowFactory(
            [&lists](QWidget* owner) { return new kelvo::RomListWindow(owner, lists.get()); });
        lists->startAfterFirstFrame(header.get());
        window = std::move(header);
    } else {
        window = std::make_unique<QWidget>();
        if (mode == "label")
            new QLabel(QStringLiteral("Kelvo-GBA"), window.get());
    }
    window->show();

    QTimer::singleShot(10000, &app, [] { leave(3); }); // never painted
    QApplication::exec();
    leave(3);
}
