#include "windowkit/wholeframe.h"

#include "windowkit/sparingfusion.h"

#include <QEvent>
#include <QFrame>
#include <QImage>
#include <QPainter>
#include <QStyleOptionFrame>

#include <cmath>

namespace kelvo {

void paintWholeFrame(QFrame* frame, const QStyleOptionFrame& option) {
    const double ratio = frame->devicePixelRatio();
    const int width = frame->frameWidth();
    if (ratio == std::floor(ratio) || width <= 0)
        return;

    // The style's colour for each side: its frame drawn at ratio 1, read at
    // the outermost pixel of each side's middle.
    const int side = 4 * width + 4;
    QImage sample(side, side, QImage::Format_ARGB32_Premultiplied);
    sample.fill(Qt::transparent);
    {
        QPainter painter(&sample);
        QStyleOptionFrame small(option);
        small.rect = sample.rect();
        frame->style()->drawControl(QStyle::CE_ShapedFrame, &small, &painter, frame);
    }
    const int middle = side / 2;
    const QColor left = sample.pixelColor(0, middle);
    const QColor top = sample.pixelColor(middle, 0);
    const QColor right = sample.pixelColor(side - 1, middle);
    const QColor bottom = sample.pixelColor(middle, side - 1);

    // The widget's edges and its contents' edges in the window's device
    // pixels, rounded as Qt rounds a widget's area.
    const QPointF origin = QPointF(frame->mapTo(frame->window(), QPoint())) * ratio;
    const auto device = [ratio](double at, int logical) {
        return std::lround(at + logical * ratio);
    };
    const long x0 = device(origin.x(), 0), x1 = device(origin.x(), width);
    const long x2 = device(origin.x(), frame->width() - width);
    const long x3 = device(origin.x(), frame->width());
    const long y0 = device(origin.y(), 0), y1 = device(origin.y(), width);
    const long y2 = device(origin.y(), frame->height() - width);
    const long y3 = device(origin.y(), frame->height());

    QPainter painter(frame);
    const auto fill = [&](long fromX, long fromY, long toX, long toY, const QColor& colour) {
        painter.fillRect(QRectF((double(fromX) - origin.x()) / ratio,
                                (double(fromY) - origin.y()) / ratio, double(toX - fromX) / ratio,
                                double(toY - fromY) / ratio),
                         colour);
    };
    fill(x0, y1, x1, y2, left);
    fill(x2, y1, x3, y2, right);
    fill(x0, y0, x3, y1, top);
    fill(x0, y2, x3, y3, bottom);
}

WholeFrameListView::WholeFrameListView(QWidget* parent) : QListView(parent) {
    cacheScrollBarGrooves(this);
}

bool WholeFrameListView::event(QEvent* event) {
    const bool handled = QListView::event(event);
    if (event->type() == QEvent::Paint) {
        QStyleOptionFrame option;
        initStyleOption(&option);
        paintWholeFrame(this, option);
    }
    return handled;
}

} // namespace kelvo
