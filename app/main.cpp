#include "app/artwork.h"
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvo-GBA"));
    QApplication::setApplicationVersion(QStringLiteral(KELVO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("kelvo-gba"));
    QApplication::setWindowIcon(kelvo::windowIcon());

    kelvo::HeaderWindow window;
    window.setBanner(kelvo::bannerPixmap());
    window.setListWindowFactory([](QWidget* owner) { return new kelvo::RomListWindow(owner); });
    window.show();
    return app.exec();
}
