// The tag table as an item model for a view, and the sorting of its rows.
//
// The model tells its views about new and changed rows only when flushed (the TAGS page
// does so every 100 ms), so a view redraws at most that often however fast answers come;
// between two flushes it knows only the rows it was told about (a repaint in between, as
// the user scrolls, shows their latest values). Changed rows are announced as
// one span, and only in the columns a read can change, so that a view sorted by EPC or by
// First seen never re-sorts for a read of a listed tag.
#pragma once

#include "tools/tag_table.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

namespace rd {

class TagTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit TagTableModel(TagTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Tells the views what changed in the table since the last flush.
    void flush();
    // Empties the table and the views at once.
    void clear();

    TagTable& table() { return table_; }

  private:
    TagTable& table_;
    int shown_ = 0; // rows the views know about
};

// Sorts the model's rows by the table's own order of a column; rows with equal cells stay
// in the order the tags were first seen, in either direction.
class TagSortModel : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    explicit TagSortModel(TagTableModel& source, QObject* parent = nullptr);

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    TagTableModel& source_;
};

} // namespace rd
