#include "windowkit/sparingfusion.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QGroupBox>
#include <QPainter>
#include <QPixmapCache>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kelvo {

namespace {

// The engine hands a fill of 96 spans or more to its thread pool: the rows
// of a shape, or the pixels of a line.
constexpr int kEngineSlice = 96;
// Bands a little shorter, so that rounding at a fractional scale never makes
// one 96 rows; each band draws the whole frame clipped, so they are few.
constexpr int kBandRows = 90;

// Calls `draw` for each band of `area` shorter than that, the painter
// clipped to it. Neighbouring bands share their edge, rounded alike, so
// every pixel is drawn once, as in one call. Only for filled shapes: a line
// clipped at a band's edge can gain or lose its end pixel there, and Fusion
// sets clips of its own to draw a scroll bar's slider.
template <typename Draw> void inBands(QPainter* painter, const QRect& area, Draw&& draw) {
    const int band = std::max(1, int(kBandRows / painter->device()->devicePixelRatio()));
    if (area.height() <= band) {
        draw();
        return;
    }
    for (int top = area.top(); top <= area.bottom(); top += band) {
        painter->save();
        painter->setClipRect(QRect(area.left(), top, area.width(), band), Qt::IntersectClip);
        draw();
        painter->restore();
    }
}

class SparingFusionStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameGroupBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        // A small picture stretched over the frame.
        inBands(painter, option->rect,
                [&] { QProxyStyle::drawPrimitive(element, option, painter, widget); });
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        const qreal ratio = painter->device()->devicePixelRatio();
        // At a fractional ratio a copy would not sit on the same device
        // pixels as the groove drawn in place; a transient bar fades.
        if (control != CC_ScrollBar || bar == nullptr ||
            !bar->subControls.testFlag(SC_ScrollBarGroove) || ratio != std::floor(ratio) ||
            styleHint(SH_ScrollBar_Transient, option, widget) != 0) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        painter->drawPixmap(bar->rect.topLeft(), groove(*bar, ratio, widget));
        QStyleOptionSlider rest(*bar);
        rest.subControls &= ~SC_ScrollBarGroove;
        QProxyStyle::drawComplexControl(control, &rest, painter, widget);
    }

private:
    // The groove depends on the bar's size and orientation and on its
    // palette, not on what the bar shows.
    [[nodiscard]] QPixmap groove(const QStyleOptionSlider& bar, qreal ratio,
                                 const QWidget* widget) const {
        const QString key = QStringLiteral("kelvo-groove-%1x%2-%3-%4-%5-%6-%7")
                                .arg(bar.rect.width())
                                .arg(bar.rect.height())
                                .arg(ratio)
                                .arg(int(bar.orientation))
                                .arg(int(bar.direction))
                                .arg(bar.palette.cacheKey())
                                .arg(int(bar.palette.currentColorGroup()));
        QPixmap pixmap;
        if (QPixmapCache::find(key, &pixmap))
            return pixmap;
        // Along its length a groove is the same but for its ends, where the
        // arrow buttons are. Its lines run its whole length, and one longer
        // than the engine's slice would start the thread pool: a long groove
        // is drawn short and lengthened by copying its middle.
        const bool horizontal = bar.orientation == Qt::Horizontal;
        const QSize size = bar.rect.size();
        const int length = horizontal ? size.width() : size.height();
        const int end = (horizontal ? size.height() : size.width()) + 4; // a button and more
        const int drawn = 2 * end + 2;
        const bool lengthen = drawn < length && drawn * ratio < kEngineSlice;
        QStyleOptionSlider only(bar);
        only.rect = QRect(QPoint(), lengthen ? (horizontal ? QSize(drawn, size.height())
                                                           : QSize(size.width(), drawn))
                                             : size);
        only.subControls = SC_ScrollBarGroove;
        QImage image(only.rect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QProxyStyle::drawComplexControl(CC_ScrollBar, &only, &painter, widget);
        painter.end();
        if (lengthen)
            image = lengthened(image, horizontal, int(length * ratio), int(end * ratio));
        pixmap = QPixmap::fromImage(std::move(image));
        QPixmapCache::insert(key, pixmap);
        return pixmap;
    }

    // `image` (of a groove) `length` device pixels long: its first and last
    // `end` pixels as they are, the middle repeated between them.
    static QImage lengthened(const QImage& image, bool horizontal, int length, int end) {
        QImage out(horizontal ? QSize(length, image.height()) : QSize(image.width(), length),
                   image.format());
        out.setDevicePixelRatio(image.devicePixelRatio());
        if (horizontal) {
            const int drawn = image.width();
            for (int y = 0; y < image.height(); ++y) {
                const auto* from = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                auto* to = reinterpret_cast<QRgb*>(out.scanLine(y));
                std::copy(from, from + end, to);
                std::fill(to + end, to + length - end, from[end]);
                std::copy(from + drawn - end, from + drawn, to + length - end);
            }
        } else {
            const int drawn = image.height();
            const auto row = [&image](int y) { return image.constScanLine(y); };
            const auto bytes = std::size_t(image.bytesPerLine());
            for (int y = 0; y < length; ++y) {
                const int from = y < end ? y : y >= length - end ? drawn - (length - y) : end;
                std::memcpy(out.scanLine(y), row(from), bytes);
            }
        }
        return out;
    }
};

// Fusion with the grooves cached and group frames drawn in bands, or null
// when `widget`'s style is another. One for the application: a widget does
// not own the style it is given.
QStyle* sparingFusion(const QWidget* widget) {
    const QStyle* style = widget->style();
    if (std::strcmp(style->metaObject()->className(), "QFusionStyle") != 0)
        return nullptr;
    static QPointer<QStyle> shared;
    if (!shared) {
        shared = new SparingFusionStyle(QStyleFactory::create(style->name()));
        shared->setParent(QCoreApplication::instance());
    }
    return shared;
}

} // namespace

void cacheScrollBarGrooves(QAbstractScrollArea* area) {
    if (QStyle* style = sparingFusion(area)) {
        area->verticalScrollBar()->setStyle(style);
        area->horizontalScrollBar()->setStyle(style);
    }
}

void drawGroupFrameInBands(QGroupBox* box) {
    if (QStyle* style = sparingFusion(box))
        box->setStyle(style);
}

} // namespace kelvo
