// A helper process for the termination tests: starts the program's windows
// in DIR, starts a copy ("copy", of DIR/sample.gba) or a "Make List" run
// ("list", over DIR's .bin files) and holds it at its first progress step,
// with "running" on standard output, until a termination signal arrives.
// The run should then stop, undo what it wrote and end the process by that
// signal; exit status 3 means it did not.
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"
#include "romheader/termination.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>

#include <cstdio>

namespace {

class HoldAtProgress : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<QProgressDialog*>(watched)) {
            std::puts("running");
            std::fflush(stdout);
            QElapsedTimer clock;
            clock.start();
            while (!kelvo::terminationRequested() && clock.elapsed() < 30000)
                QThread::msleep(5);
        }
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
    app.installEventFilter(&hold);

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
        list->setProgressDelay(0);
        list->findChild<QPushButton*>(QStringLiteral("cmdMake"))->click();
    }
    return 3;
}
