#include "line_list.h"

#include "errors.h"

#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>
#include <QTimer>

namespace rd {

LineList::LineList(QObject* parent) : QAbstractListModel(parent) {}

void LineList::append(const QString& line) {
    const int row = int(lines_.size());
    beginInsertRows(QModelIndex(), row, row);
    lines_.push_back(line);
    ++index_[line];
    endInsertRows();
}

void LineList::clear() {
    if (lines_.empty())
        return;
    beginResetModel();
    lines_.clear();
    index_.clear();
    endResetModel();
}

void LineList::setLines(const QStringList& lines) {
    beginResetModel();
    lines_.assign(lines.begin(), lines.end());
    index_.clear();
    for (const QString& l : lines_)
        ++index_[l];
    endResetModel();
}

QString LineList::line(int i) const {
    if (i < 0 || i >= int(lines_.size()))
        return QString();
    return lines_[std::size_t(i)];
}

QStringList LineList::lines() const {
    QStringList out;
    out.reserve(int(lines_.size()));
    for (const QString& l : lines_)
        out.append(l);
    return out;
}

int LineList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(lines_.size());
}

QVariant LineList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(lines_.size()))
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
        return lines_[std::size_t(index.row())];
    return {};
}

TMemo::TMemo(const QString& objectName, QWidget* parent) : QListView(parent), list_(new LineList(this)) {
    setObjectName(objectName);
    setAccessibleName(objectName);
    setModel(list_);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setLayoutMode(QListView::Batched);
    setBatchSize(1000);
    dblClick_ = [this] { list_->clear(); };
    connect(list_, &QAbstractItemModel::rowsInserted, this, [this] { scheduleScroll(); });
}

void TMemo::doubleClick() {
    RunGuarded(dblClick_);
}

void TMemo::mouseDoubleClickEvent(QMouseEvent* e) {
    e->accept();
    doubleClick();
}

void TMemo::setTextColor(const QColor& c) {
    QPalette p = palette();
    p.setColor(QPalette::Text, c);
    setPalette(p);
}

QColor TMemo::textColor() const {
    return palette().color(QPalette::Text);
}

void TMemo::scheduleScroll() {
    // Follow the newest line, once per burst of appends rather than once per line.
    if (scrollPending_)
        return;
    scrollPending_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollPending_ = false;
        scrollToBottom();
    });
}

} // namespace rd
