// The rows of a collection check as a table model: one row per image, the
// columns the core names, each cell's text made once when its row arrives
// (sorting 10,000 rows then compares stored texts, not fresh ones).
#pragma once

#include "collection/row.h"

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <vector>

namespace kelvo {

class CheckTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // What the table sorts by: the Size column by its number, the others
    // by their text.
    static constexpr int kSortRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    // The rows in the order they arrived, for the core's actions and reports.
    [[nodiscard]] const std::vector<CheckRow>& rows() const { return rows_; }

    // Makes room for `rows` rows in all, so that rows arriving later are
    // added without moving those held (10,000 rows take milliseconds to move).
    void reserve(std::size_t rows);
    // Adds `rows` at the end in one insertion.
    void append(std::vector<CheckRow>&& rows);
    // Puts `row` in place of row `index`.
    void replace(std::size_t index, CheckRow row);
    void clear();

private:
    using Cells = std::array<QString, kColumnCount>;
    [[nodiscard]] static Cells cellsOf(const CheckRow& row);

    std::vector<CheckRow> rows_;
    std::vector<Cells> cells_;
};

} // namespace kelvo
