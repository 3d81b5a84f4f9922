// Shared by the list widget tests: readable std::string comparisons and
// files made in a test's temporary directory.
#pragma once

#include <QAbstractItemView>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QtTest>

#include <string>
#include <utility>
#include <vector>

namespace QTest {
// QCOMPARE on native names and paths prints their bytes, escaped.
template <> inline char* toString(const std::string& text) {
    return toString(QByteArray::fromStdString(text));
}
} // namespace QTest

namespace kelvo::test {

inline void makeFiles(const QString& directory, const QStringList& names) {
    for (const QString& name : names) {
        QFile file(directory + '/' + name);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    }
}

// Qt's own item delegate, each row shifted right as far as `own` sizes it
// wider (the directory list's indent): the rows as the style draws them.
// Measured with no view: the directory list keeps a row to the list's width.
class StyleRows : public QStyledItemDelegate {
public:
    explicit StyleRows(const QAbstractItemDelegate* own) : own_(own) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem shifted(option);
        QStyleOptionViewItem measured(option);
        measured.widget = nullptr;
        shifted.rect.setLeft(option.rect.left() + own_->sizeHint(measured, index).width() -
                             QStyledItemDelegate::sizeHint(measured, index).width());
        QStyledItemDelegate::paint(painter, shifted, index);
    }
    // Laid out as the view lays its own rows out.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return own_->sizeHint(option, index);
    }

private:
    const QAbstractItemDelegate* own_;
};

// The view's rows drawn by its own delegate, then by the style's.
inline std::pair<QImage, QImage> rowsBothWays(QAbstractItemView* view) {
    const QImage ours = view->viewport()->grab().toImage();
    QAbstractItemDelegate* own = view->itemDelegate();
    StyleRows style(own);
    view->setItemDelegate(&style);
    const QImage styles = view->viewport()->grab().toImage();
    view->setItemDelegate(own);
    return {ours, styles};
}

inline QStringList toStringList(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    return list;
}

} // namespace kelvo::test
