// The banner control: a label whose picture is stretched over its whole
// area as it is painted, filtered bilinearly. A QLabel with scaled contents
// would first make a smoothly rescaled copy of the picture and convert it,
// which costs the window's start more than the rest of its painting.
#pragma once

#include <QLabel>
#include <QPainter>

namespace kelvo {

class BannerLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        const QPixmap picture = pixmap();
        if (picture.isNull()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(contentsRect(), picture);
    }
};

} // namespace kelvo
