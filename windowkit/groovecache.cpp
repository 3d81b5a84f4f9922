#include "windowkit/groovecache.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionSlider>

#include <cmath>
#include <cstring>

namespace kelvo {

namespace {

class GrooveCachingStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

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

} // namespace

void cacheScrollBarGrooves(QAbstractScrollArea* area) {
    const QStyle* style = area->style();
    if (std::strcmp(style->metaObject()->className(), "QFusionStyle") != 0)
        return;
    // One for the application: a widget does not own the style it is given.
    static QPointer<QStyle> shared;
    if (!shared) {
        shared = new GrooveCachingStyle(QStyleFactory::create(style->name()));
        shared->setParent(QCoreApplication::instance());
    }
    area->verticalScrollBar()->setStyle(shared);
    area->horizontalScrollBar()->setStyle(shared);
}

} // namespace kelvo
