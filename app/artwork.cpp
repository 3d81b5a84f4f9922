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

// The icon's sizes are PNGs compiled into the program, rendered from the
// SVG beside them by scripts/render-icons. The banner, shown at every start,
// is a plain RGB picture (PPM) stored uncompressed: reading it is a copy,
// where decoding a PNG was a third of what the banner cost the start.
QPixmap bannerPixmap() {
    ensureResources();
    return QPixmap::fromImage(QImage(QStringLiteral(":/banner.ppm"), "PPM"));
}

QIcon windowIcon() {
    ensureResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/kelvo-gba.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace kelvo
