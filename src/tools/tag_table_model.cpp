#include "tools/tag_table_model.h"

#include <algorithm>

namespace rd {

TagTableModel::TagTableModel(TagTable& table, QObject* parent) : QAbstractTableModel(parent), table_(table) {
    shown_ = table_.rowCount();
}

int TagTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int TagTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : TagTable::kColumnCount;
}

QVariant TagTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_)
        return QVariant();
    if (role == Qt::DisplayRole)
        return table_.text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return int((index.column() == TagTable::kEpc ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    return QVariant();
}

QVariant TagTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < TagTable::kColumnCount)
        return TagTable::Headers()[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

void TagTableModel::flush() {
    const auto [first, last] = table_.takeChanged();
    // The rows the views know are put in order first, so that the new ones are sorted in
    // among rows that are in order.
    if (first >= 0 && first < shown_) {
        const int end = std::min(last, shown_ - 1);
        // EPC and First seen never change once a row exists.
        emit dataChanged(index(first, TagTable::kAntenna), index(end, TagTable::kMax));
        emit dataChanged(index(first, TagTable::kLastSeen), index(end, TagTable::kLastSeen));
    }
    if (table_.rowCount() > shown_) {
        beginInsertRows(QModelIndex(), shown_, table_.rowCount() - 1);
        shown_ = table_.rowCount();
        endInsertRows();
    }
}

void TagTableModel::clear() {
    beginResetModel();
    table_.clear();
    shown_ = 0;
    endResetModel();
}

TagSortModel::TagSortModel(TagTableModel& source, QObject* parent)
    : QSortFilterProxyModel(parent), source_(source) {
    setSourceModel(&source);
}

bool TagSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const int order = source_.table().compare(left.row(), right.row(), left.column());
    if (order != 0)
        return order < 0;
    // A descending sort asks the other way round: the tie is broken the other way too.
    return sortOrder() == Qt::AscendingOrder ? left.row() < right.row() : left.row() > right.row();
}

} // namespace rd
