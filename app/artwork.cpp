#include "app/artwork.h"

#include <QtGlobal>

// The pictures live in a static library, whose resources the linker would
// otherwise leave out; Q_INIT_RESOURCE must be used outside any namespace.
static void ensureResources() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(loaded);
}

namespace kelvo {

// Both pictures are PNGs compiled into the program, rendered from the SVGs
// beside them by scripts/render-icons: decoding a small PNG costs less at
// start-up than painting the banner.
QPixmap bannerPixmap() {
    ensureResources();
    return QPixmap(QStringLiteral(":/banner.png"));
}

QIcon windowIcon() {
    ensureResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/kelvo-gba.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace kelvo
