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

// The engine hands a fill of 96 rows or more to its thread pool.
constexpr int kBandRows = 64;

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
        pixmap = QPixmap(bar.rect.size() * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        QStyleOptionSlider only(bar);
        only.rect = QRect(QPoint(), bar.rect.size());
        only.subControls = SC_ScrollBarGroove;
        QProxyStyle::drawComplexControl(CC_ScrollBar, &only, &painter, widget);
        painter.end();
        QPixmapCache::insert(key, pixmap);
        return pixmap;
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
