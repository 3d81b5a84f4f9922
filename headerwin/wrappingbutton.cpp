#include "headerwin/wrappingbutton.h"

#include "windowkit/twipslayout.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace kelvo {

WrappingButton::WrappingButton(const QString& text, int lines, QWidget* parent)
    : QPushButton(text, parent), lines_(lines) {}

QStringList WrappingButton::displayLines() const {
    return balancedLines(text(), lines_);
}

void WrappingButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);

    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.drawItemText(contents, Qt::AlignCenter, palette(), isEnabled(),
                         displayLines().join(QLatin1Char('\n')), QPalette::ButtonText);
}

} // namespace kelvo
