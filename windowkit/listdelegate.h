// The rows of the browsing lists. Qt's item delegate has the style lay each
// row's text out three times (to size it, to elide it, to draw it), which is
// most of what showing a directory costs; this one lays it out once and
// draws the same pixels: the style's row panel (and with it the selection),
// the icon, the text elided at the same width, the focus rectangle.
#pragma once

#include <QStyledItemDelegate>

namespace kelvo {

class ListItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const override;

protected:
    // How far right of the row's edge its icon and text start; none here.
    [[nodiscard]] virtual int indent(const QModelIndex& index) const;
};

} // namespace kelvo
