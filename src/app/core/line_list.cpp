#include "line_list.h"

#include "errors.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QTimer>

namespace rd {

LineList::LineList(QObject* parent) : QAbstractListModel(parent) {}

void LineList::append(const QString& line) {
    const int row = int(lines_.size());
    beginInsertRows(QModelIndex(), row, row);
    lines_.push_back(line);
    if (indexed_)
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
    indexed_ = false;
    endResetModel();
}

const QHash<QString, int>& LineList::index() const {
    if (!indexed_) {
        index_.clear();
        index_.reserve(qsizetype(lines_.size()));
        for (const QString& l : lines_)
            ++index_[l];
        indexed_ = true;
    }
    return index_;
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

TMemo::TMemo(const QString& objectName, QWidget* parent)
    : QAbstractScrollArea(parent), list_(new LineList(this)) {
    setObjectName(objectName);
    setAccessibleName(objectName);
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    dblClick_ = [this] { list_->clear(); };
    connect(list_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { onRowsInserted(first, last); });
    connect(list_, &QAbstractItemModel::modelReset, this, [this] { onReset(); });
}

void TMemo::doubleClick() {
    RunGuarded(dblClick_);
}

void TMemo::setTextColor(const QColor& c) {
    QPalette p = palette();
    p.setColor(QPalette::Text, c);
    setPalette(p);
    viewport()->update();
}

QColor TMemo::textColor() const {
    return palette().color(QPalette::Text);
}

void TMemo::onRowsInserted(int first, int last) {
    for (int i = first; i <= last; ++i)
        longestLine_ = std::max(longestLine_, int(list_->line(i).size()));
    scheduleSync();
}

void TMemo::onReset() {
    longestLine_ = 0;
    for (int i = 0; i < list_->count(); ++i)
        longestLine_ = std::max(longestLine_, int(list_->line(i).size()));
    anchor_ = 0;
    cursor_ = -1;
    scheduleSync();
}

void TMemo::scheduleSync() {
    // One update of the scroll bars and one repaint per burst of appends, however long.
    if (syncPending_)
        return;
    syncPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (syncPending_)
            syncScrollBars();
    });
}

int TMemo::rowHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TMemo::visibleRows() const {
    return std::max(1, viewport()->height() / rowHeight());
}

int TMemo::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

void TMemo::syncScrollBars(bool toEnd) {
    syncPending_ = false;
    QScrollBar* v = verticalScrollBar();
    // A view that showed the last line goes on showing it; one the user scrolled away stays.
    const bool atEnd = toEnd || v->value() >= v->maximum();
    const int page = visibleRows();
    v->setRange(0, std::max(0, list_->count() - page));
    v->setPageStep(page);
    v->setSingleStep(1);
    if (atEnd)
        v->setValue(v->maximum());
    QScrollBar* h = horizontalScrollBar();
    const int textWidth = longestLine_ * fontMetrics().averageCharWidth() + 8;
    h->setRange(0, std::max(0, textWidth - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
    // Assistive technology reads the size of the list and its newest line.
    const int n = list_->count();
    setAccessibleDescription(n == 0 ? QStringLiteral("empty")
                                    : QStringLiteral("%1 lines, last: %2").arg(n).arg(list_->line(n - 1)));
    viewport()->update();
}

void TMemo::scrollToBottom() {
    syncScrollBars(true);
}

QSize TMemo::sizeHint() const {
    return QSize(300, 140);
}

void TMemo::paintEvent(QPaintEvent*) {
    if (syncPending_)
        syncScrollBars();
    QPainter p(viewport());
    const int h = rowHeight();
    const int first = firstVisibleRow();
    const int rows = viewport()->height() / h + 2;
    const int x = 3 - horizontalScrollBar()->value();
    const int selFirst = selectionFirst();
    const int selLast = selectionLast();
    const QPalette& pal = palette();
    const int ascent = fontMetrics().ascent();
    for (int r = 0; r < rows; ++r) {
        const int row = first + r;
        if (row >= list_->count())
            break;
        const int y = r * h;
        const bool selected = cursor_ >= 0 && row >= selFirst && row <= selLast;
        if (selected) {
            p.fillRect(QRect(0, y, viewport()->width(), h), pal.brush(QPalette::Highlight));
            p.setPen(pal.color(QPalette::HighlightedText));
        } else {
            p.setPen(pal.color(QPalette::Text));
        }
        p.drawText(x, y + ascent, list_->line(row));
    }
}

void TMemo::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    syncScrollBars();
}

void TMemo::changeEvent(QEvent* e) {
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        scheduleSync();
}

int TMemo::rowAt(int y) const {
    return firstVisibleRow() + y / rowHeight();
}

void TMemo::moveCursor(int row, bool extend) {
    if (list_->count() == 0)
        return;
    row = std::clamp(row, 0, list_->count() - 1);
    cursor_ = row;
    if (!extend)
        anchor_ = row;
    QScrollBar* v = verticalScrollBar();
    if (row < v->value())
        v->setValue(row);
    else if (row >= v->value() + visibleRows())
        v->setValue(row - visibleRows() + 1);
    viewport()->update();
}

void TMemo::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return;
    const int row = rowAt(int(e->position().y()));
    if (row < list_->count())
        moveCursor(row, e->modifiers() & Qt::ShiftModifier);
}

void TMemo::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton)
        moveCursor(rowAt(int(e->position().y())), true);
}

void TMemo::mouseDoubleClickEvent(QMouseEvent* e) {
    e->accept();
    doubleClick();
}

QString TMemo::selectedText() const {
    if (cursor_ < 0 || list_->count() == 0)
        return QString();
    QStringList out;
    const int last = std::min(selectionLast(), list_->count() - 1);
    for (int i = selectionFirst(); i <= last; ++i)
        out << list_->line(i);
    return out.join(QLatin1Char('\n'));
}

void TMemo::keyPressEvent(QKeyEvent* e) {
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const int cur = cursor_ < 0 ? firstVisibleRow() : cursor_;
    if (e->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(selectedText());
    } else if (e->matches(QKeySequence::SelectAll)) {
        if (list_->count() > 0) {
            anchor_ = 0;
            cursor_ = list_->count() - 1;
            viewport()->update();
        }
    } else if (e->key() == Qt::Key_Up) {
        moveCursor(cur - 1, shift);
    } else if (e->key() == Qt::Key_Down) {
        moveCursor(cur + 1, shift);
    } else if (e->key() == Qt::Key_PageUp) {
        moveCursor(cur - visibleRows(), shift);
    } else if (e->key() == Qt::Key_PageDown) {
        moveCursor(cur + visibleRows(), shift);
    } else if (e->key() == Qt::Key_Home && (e->modifiers() & Qt::ControlModifier)) {
        moveCursor(0, shift);
    } else if (e->key() == Qt::Key_End && (e->modifiers() & Qt::ControlModifier)) {
        moveCursor(list_->count() - 1, shift);
    } else {
        QAbstractScrollArea::keyPressEvent(e);
    }
}

} // namespace rd
