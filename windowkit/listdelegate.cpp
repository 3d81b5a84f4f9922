#include "windowkit/listdelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QtMath>

#include <cstring>

namespace kelvo {

namespace {

// Styles that leave a row to QCommonStyle, whose placement paint() repeats.
// Any other style (a platform's, a style sheet) draws its rows itself.
[[nodiscard]] bool rowsAreCommonStyle(const QStyle* style) {
    const char* name = style->metaObject()->className();
    return std::strcmp(name, "QFusionStyle") == 0 || std::strcmp(name, "QWindowsStyle") == 0 ||
           std::strcmp(name, "QCommonStyle") == 0;
}

// A row of one line of text, perhaps with an icon before it: what the lists show.
[[nodiscard]] bool isPlainRow(const QStyleOptionViewItem& option) {
    return option.decorationPosition == QStyleOptionViewItem::Left &&
           option.features.testFlag(QStyleOptionViewItem::HasDisplay) &&
           !option.features.testFlag(QStyleOptionViewItem::WrapText) &&
           !option.features.testFlag(QStyleOptionViewItem::HasCheckIndicator) &&
           !option.state.testFlag(QStyle::State_Editing) && !option.text.isEmpty() &&
           !option.text.contains(QChar(0x9C)); // a text with variants is elided differently
}

// Wide enough that a line is measured whole.
constexpr qreal kUnboundedWidth = 1e6;

} // namespace

void ListItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem shifted(option);
    shifted.rect.setLeft(option.rect.left() + indent(index));
    QStyleOptionViewItem row(shifted);
    initStyleOption(&row, index);
    const QWidget* widget = row.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    if (!rowsAreCommonStyle(style) || !isPlainRow(row)) {
        QStyledItemDelegate::paint(painter, shifted, index);
        return;
    }

    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(row.direction);
    textOption.setAlignment(QStyle::visualAlignment(row.direction, row.displayAlignment));
    QTextLayout layout(row.text, row.font);
    layout.setTextOption(textOption);
    layout.setCacheEnabled(true); // drawn as shaped here, not shaped again
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(kUnboundedWidth);
    if (line.textLength() != row.text.size()) { // a name holding a line break
        layout.endLayout();
        QStyledItemDelegate::paint(painter, shifted, index);
        return;
    }

    // Icon and text placed as QCommonStyle places them (its viewItemLayout).
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &row, widget) + 1;
    const bool hasIcon =
        row.features.testFlag(QStyleOptionViewItem::HasDecoration) && !row.decorationSize.isEmpty();
    const int iconSpan = hasIcon ? row.decorationSize.width() + 2 * margin : 0;
    const QRect& r = row.rect;
    QRect decoration;
    QRect display;
    if (row.direction == Qt::LeftToRight) {
        decoration = QRect(r.x(), r.y(), iconSpan, r.height());
        display = QRect(decoration.right() + 1, r.y(), r.width() - iconSpan, r.height());
    } else {
        display = QRect(r.x(), r.y(), r.width() - iconSpan, r.height());
        decoration = QRect(display.right() + 1, r.y(), iconSpan, r.height());
    }
    const QSize textSize(qCeil(line.naturalTextWidth()) + 2 * margin, qCeil(line.height()));
    const QRect textRect = row.showDecorationSelected
                               ? display
                               : QStyle::alignedRect(row.direction, row.displayAlignment,
                                                     textSize.boundedTo(display.size()), display);
    const QRect textArea = textRect.adjusted(margin, 0, -margin, 0);
    line.setLineWidth(textArea.width()); // keeps the shaped line when it fits
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    const QRect laidOut = QStyle::alignedRect(Qt::LayoutDirectionAuto, row.displayAlignment,
                                              layout.boundingRect().size().toSize(), textArea);
    const QPointF textAt(textArea.x(), laidOut.top());

    painter->save();
    painter->setClipRect(r, painter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &row, painter, widget);

    QIcon::Mode mode = QIcon::Normal;
    if (!row.state.testFlag(QStyle::State_Enabled))
        mode = QIcon::Disabled;
    else if (row.state.testFlag(QStyle::State_Selected))
        mode = QIcon::Selected;
    const QIcon::State state = row.state.testFlag(QStyle::State_Open) ? QIcon::On : QIcon::Off;
    if (hasIcon)
        row.icon.paint(painter,
                       QStyle::alignedRect(row.direction, row.decorationAlignment,
                                           row.decorationSize, decoration),
                       row.decorationAlignment, mode, state);

    QPalette::ColorGroup group =
        row.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !row.state.testFlag(QStyle::State_Active))
        group = QPalette::Inactive;
    painter->setPen(row.palette.color(group, row.state.testFlag(QStyle::State_Selected)
                                                 ? QPalette::HighlightedText
                                                 : QPalette::Text));
    if (line.naturalTextWidth() <= textArea.width()) {
        layout.draw(painter, textAt);
    } else {
        // Too wide: the style's elision, laid out afresh as the style does.
        QTextLayout elided(
            QFontMetrics(row.font).elidedText(row.text, row.textElideMode, textArea.width()),
            row.font);
        elided.setTextOption(textOption);
        elided.beginLayout();
        QTextLine elidedLine = elided.createLine();
        if (elidedLine.isValid()) {
            elidedLine.setLineWidth(textArea.width());
            elidedLine.setPosition(QPointF(0, 0));
        }
        elided.endLayout();
        elided.draw(painter, textAt);
    }

    if (row.state.testFlag(QStyle::State_HasFocus)) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(row);
        focus.rect = textRect;
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
        focus.backgroundColor = row.palette.color(
            row.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled,
            row.state.testFlag(QStyle::State_Selected) ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
    painter->restore();
}

QSize ListItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    // Asked once per listing (the lists' rows are of one size), so the style measures.
    return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(index), 0);
}

int ListItemDelegate::indent(const QModelIndex&) const {
    return 0;
}

} // namespace kelvo
