// A one-line label that shows a text too long for it with an ellipsis in
// the middle, keeping both ends ("Verified: 2048 (Wo...).gba and 2 more"),
// while its text, and so what a screen reader reads, stays whole.
#pragma once

#include <QLabel>
#include <QPainter>
#include <QStyle>

namespace kelvo {

class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()),
                              foregroundRole());
    }
};

} // namespace kelvo
