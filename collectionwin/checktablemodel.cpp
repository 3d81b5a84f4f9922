#include "collectionwin/checktablemodel.h"

#include "windowkit/windowkit.h"

namespace kelvo {

namespace {

constexpr int kSizeColumn = int(CheckColumn::Size);

} // namespace

int CheckTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int CheckTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(kColumnCount);
}

QVariant CheckTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= rows_.size())
        return {};
    const std::size_t row = std::size_t(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // a cell cut off by its column's width
        return cells_[row][std::size_t(index.column())];
    case kSortRole:
        if (index.column() == kSizeColumn) // an unknown size sorts first
            return rows_[row].size ? qlonglong(*rows_[row].size) : qlonglong(-1);
        return cells_[row][std::size_t(index.column())];
    case Qt::TextAlignmentRole:
        if (index.column() == kSizeColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant CheckTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= int(kColumnCount))
        return QAbstractTableModel::headerData(section, orientation, role);
    const std::string_view caption = columnCaption(CheckColumn(section));
    return QString::fromUtf8(caption.data(), qsizetype(caption.size()));
}

void CheckTableModel::reserve(std::size_t rows) {
    if (rows <= rows_.capacity())
        return;
    // At least doubled, so that a count that grows a little at a time does
    // not move the rows each time.
    rows = std::max(rows, 2 * rows_.capacity());
    rows_.reserve(rows);
    cells_.reserve(rows);
}

void CheckTableModel::append(std::vector<CheckRow>&& rows) {
    if (rows.empty())
        return;
    const int first = int(rows_.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    for (CheckRow& row : rows) {
        cells_.push_back(cellsOf(row));
        rows_.push_back(std::move(row));
    }
    endInsertRows();
}

void CheckTableModel::replace(std::size_t index, CheckRow row) {
    if (index >= rows_.size())
        return;
    cells_[index] = cellsOf(row);
    rows_[index] = std::move(row);
    emit dataChanged(this->index(int(index), 0), this->index(int(index), int(kColumnCount) - 1));
}

void CheckTableModel::clear() {
    beginResetModel();
    rows_.clear();
    cells_.clear();
    rows_.shrink_to_fit();
    cells_.shrink_to_fit();
    endResetModel();
}

CheckTableModel::Cells CheckTableModel::cellsOf(const CheckRow& row) {
    const std::array<std::string, kColumnCount> texts = cellTexts(row);
    Cells cells;
    for (std::size_t column = 0; column < kColumnCount; ++column)
        cells[column] = fromUtf8(texts[column]);
    return cells;
}

} // namespace kelvo
