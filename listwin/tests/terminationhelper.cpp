// A helper process for the termination tests: starts the program's windows
// in DIR and starts a copy ("copy", of DIR/sample.gba) or a "Make List" run
// ("list", over DIR's .bin files), each where a signal finds it with
// something to undo, and says "running" on standard output until a
// termination signal arrives. The copy takes the way of file systems
// without unnamed files (its hidden partial file exists) and is held at its
// first progress step; the list's append is held in its fsync, which then
// fails, so the press has to remove the list file it created. The run
// should stop, undo what it wrote and end the process by that signal; exit
// status 3 means it did not.
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"
#include "romheader/termination.h"
#include "romheader/tests/syscall_faults.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <optional>

namespace {

void holdUntilSignalled() {
    std::puts("running");
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    while (!kelvo::terminationRequested() && clock.elapsed() < 30000)
        QThread::msleep(5);
}

class HoldAtProgress : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<QProgressDialog*>(watched))
            holdUntilSignalled();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3 || !QDir::setCurrent(arguments[2]))
        return 2;
    HoldAtProgress hold;
    std::optional<kelvo::test::SyscallFault> fault;
    if (arguments[1] == QStringLiteral("copy")) {
        app.installEventFilter(&hold);
        fault.emplace("O_TMPFILE", EOPNOTSUPP);
    } else {
        fault.emplace("fsync", EIO, holdUntilSignalled);
    }

    kelvo::HeaderWindow header;
    header.setListWindowFactory([](QWidget* owner) { return new kelvo::RomListWindow(owner); });
    header.setProgressDelay(0);
    header.show();
    if (arguments[1] == QStringLiteral("copy")) {
        header.openPath("sample.gba");
        header.findChild<QPushButton*>(QStringLiteral("cmdRen"))->click();
    } else {
        header.showListWindow();
        auto* list = static_cast<kelvo::RomListWindow*>(header.listWindow());
        list->findChild<QPushButton*>(QStringLiteral("cmdMake"))->click();
    }
    return 3;
}
