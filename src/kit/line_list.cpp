#include "kit/line_list.h"

#include "kit/errors.h"
#include "kit/scroll_bar_style.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QTimer>

#include <cmath>
#include <cstring>
#include <type_traits>

namespace rd {
namespace {

char16_t CodeOf(char c) {
    return uchar(c);
}
char16_t CodeOf(QChar c) {
    return c.unicode();
}

} // namespace

// ---------------------------------------------------------------------------------------
// LineStore

char* LineStore::reserve(std::size_t bytes, std::size_t align) {
    used_ = (used_ + align - 1) & ~(align - 1);
    if (blocks_.empty() || used_ + bytes > blocks_.back().bytes) {
        Block b;
        b.bytes = std::max(bytes, kBlockBytes);
        if (b.bytes == kBlockBytes && spare_)
            b.data = std::move(spare_);
        else
            b.data = std::make_unique_for_overwrite<char[]>(b.bytes);
        blocks_.push_back(std::move(b));
        used_ = 0;
    }
    char* p = blocks_.back().data.get() + used_;
    used_ += bytes;
    return p;
}

void LineStore::recycle(Block& b) {
    if (b.bytes == kBlockBytes && !spare_)
        spare_ = std::move(b.data);
}

void LineStore::push_back(QStringView text) {
    const std::size_t n = std::size_t(text.size());
    const char16_t* src = text.utf16();
    char16_t all = 0;
    for (std::size_t i = 0; i < n; ++i)
        all |= src[i];
    const bool wide = all > 0xFF;
    char* p;
    if (wide) {
        p = reserve(n * 2, 2);
        std::memcpy(p, src, n * 2);
    } else {
        p = reserve(n, 1);
        for (std::size_t i = 0; i < n; ++i)
            p[i] = char(src[i]);
    }
    Entry e;
    e.block = firstBlock_ + uint32_t(blocks_.size() - 1);
    e.offset = uint32_t(p - blocks_.back().data.get());
    e.size = uint32_t(n);
    e.wide = wide ? 1 : 0;
    entries_.push_back(e);
}

void LineStore::pop_front() {
    entries_.pop_front();
    // The last block is kept while lines are still being added to it.
    const uint32_t keep =
        entries_.empty() ? firstBlock_ + uint32_t(blocks_.size() - 1) : entries_.front().block;
    while (firstBlock_ < keep) {
        recycle(blocks_.front());
        blocks_.pop_front();
        ++firstBlock_;
    }
}

void LineStore::clear() {
    entries_.clear();
    entries_.shrink_to_fit();
    for (Block& b : blocks_)
        recycle(b);
    blocks_.clear();
    blocks_.shrink_to_fit();
    firstBlock_ = 0;
    used_ = 0;
}

QString LineStore::at(std::size_t i) const {
    return visit(i, [](auto text) { return text.toString(); });
}

// ---------------------------------------------------------------------------------------
// LineList

LineList::LineList(QObject* parent) : QAbstractListModel(parent) {}

QString LineList::droppedText(qint64 dropped) {
    return QStringLiteral("%1 older lines dropped; the traffic log (--traffic-log) keeps every line")
        .arg(dropped);
}

void LineList::append(const QString& line) {
    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    lines_.push_back(line);
    if (indexed_)
        ++index_[line];
    endInsertRows();
    if (maxLines_ > 0 && lines_.size() > std::size_t(maxLines_))
        trim();
}

void LineList::trim() {
    const std::size_t excess = lines_.size() - std::size_t(maxLines_);
    // The dropped lines are rows marker() .. marker() + excess - 1. Row 0 becomes (or stays)
    // the dropped-lines row: the first time, it takes the oldest line's row, so one row
    // fewer goes.
    const int firstGone = 1;
    const int lastGone = marker() + int(excess) - 1;
    const bool removing = lastGone >= firstGone;
    if (removing)
        beginRemoveRows(QModelIndex(), firstGone, lastGone);
    for (std::size_t k = 0; k < excess; ++k) {
        if (indexed_) {
            const QString old = lines_.at(0);
            auto it = index_.find(old);
            if (it != index_.end() && --*it <= 0)
                index_.erase(it);
        }
        lines_.pop_front();
    }
    dropped_ += qint64(excess);
    if (removing)
        endRemoveRows();
    const QModelIndex first = createIndex(0, 0);
    emit dataChanged(first, first);
}

void LineList::setMaxLines(int maxLines) {
    maxLines_ = std::max(0, maxLines);
    if (maxLines_ > 0 && lines_.size() > std::size_t(maxLines_))
        trim();
}

void LineList::clear() {
    if (count() == 0)
        return;
    beginResetModel();
    lines_.clear();
    dropped_ = 0;
    index_.clear();
    endResetModel();
}

void LineList::setLines(const QStringList& lines) {
    beginResetModel();
    lines_.clear();
    dropped_ = 0;
    qsizetype from = 0;
    if (maxLines_ > 0 && lines.size() > maxLines_) {
        from = lines.size() - maxLines_;
        dropped_ = from;
    }
    for (qsizetype i = from; i < lines.size(); ++i)
        lines_.push_back(lines[i]);
    index_.clear();
    indexed_ = false;
    endResetModel();
}

const QHash<QString, int>& LineList::index() const {
    if (!indexed_) {
        index_.clear();
        index_.reserve(qsizetype(lines_.size()));
        for (std::size_t i = 0; i < lines_.size(); ++i)
            ++index_[lines_.at(i)];
        indexed_ = true;
    }
    return index_;
}

QString LineList::line(int i) const {
    if (i < 0 || i >= count())
        return QString();
    if (i < marker())
        return droppedText(dropped_);
    return lines_.at(std::size_t(i - marker()));
}

QStringList LineList::lines() const {
    QStringList out;
    out.reserve(count());
    for (int i = 0; i < count(); ++i)
        out.append(line(i));
    return out;
}

int LineList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant LineList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
        return line(index.row());
    return {};
}

TMemo::TMemo(const QString& objectName, QWidget* parent)
    : QAbstractScrollArea(parent), list_(new LineList(this)), syncTimer_(new QTimer(this)) {
    setObjectName(objectName);
    setAccessibleName(objectName);
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setStyle(CachedScrollBarStyle::instance());
    horizontalScrollBar()->setStyle(CachedScrollBarStyle::instance());
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    dblClick_ = [this] { list_->clear(); };
    syncTimer_->setSingleShot(true);
    connect(syncTimer_, &QTimer::timeout, this, [this] {
        if (syncPending_)
            syncScrollBars();
    });
    connect(list_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { onRowsInserted(first, last); });
    connect(list_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { onRowsRemoved(first, last); });
    connect(list_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                onRowsChanged(first.row(), last.row());
            });
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
        measure(i);
    scheduleSync();
}

void TMemo::onRowsChanged(int first, int last) {
    for (int i = first; i <= last; ++i) {
        if (i == 0 && list_->dropped() > 0) {
            // The dropped-lines row changes with every line dropped, but only its number
            // does: it is measured again when the number gains a digit.
            int digits = 1;
            for (qint64 n = list_->dropped(); n >= 10; n /= 10)
                ++digits;
            if (digits == droppedDigits_)
                continue;
            droppedDigits_ = digits;
        }
        measure(i);
    }
    scheduleSync();
}

void TMemo::onRowsRemoved(int first, int last) {
    const int n = last - first + 1;
    // Lines dropped at the top: a view the user scrolled away keeps the same lines in
    // sight, and the selection stays on its lines as long as they are there.
    QScrollBar* v = verticalScrollBar();
    if (v->value() < v->maximum())
        v->setValue(std::max(0, v->value() - n));
    auto shift = [&](int row) { return row > last ? row - n : std::min(row, first); };
    if (cursor_ >= 0) {
        anchor_ = shift(anchor_);
        cursor_ = shift(cursor_);
    }
    scheduleSync();
}

void TMemo::onReset() {
    droppedDigits_ = 0;
    widestEstimate_ = 0;
    widestLine_.clear();
    widestExact_ = 0;
    for (int i = 0; i < list_->count(); ++i)
        measure(i);
    anchor_ = 0;
    cursor_ = -1;
    scheduleSync();
}

void TMemo::measure(int row) {
    if (!advanceValid_) {
        const QFontMetricsF fm(font());
        for (int c = 0; c < 256; ++c)
            advance_[std::size_t(c)] = fm.horizontalAdvance(QChar(c));
        advanceValid_ = true;
    }
    // A line of characters below U+0100 is estimated from the table; any other line is
    // measured whole.
    const qreal estimate = list_->visitLine(row, [this](auto text) -> qreal {
        qreal w = 0;
        for (const auto c : text) {
            const char16_t u = CodeOf(c);
            if (u > 0xFF)
                return QFontMetricsF(font()).horizontalAdvance(text.toString());
            w += advance_[u];
        }
        return w;
    });
    if (estimate > widestEstimate_) {
        widestEstimate_ = estimate;
        widestLine_ = list_->line(row);
        widestExact_ = -1;
    }
}

int TMemo::textWidth() {
    if (remeasure_) {
        remeasure_ = false;
        advanceValid_ = false;
        widestEstimate_ = 0;
        widestLine_.clear();
        widestExact_ = 0;
        for (int i = 0; i < list_->count(); ++i)
            measure(i);
    }
    if (widestExact_ < 0)
        widestExact_ = fontMetrics().horizontalAdvance(widestLine_);
    return std::max(int(std::ceil(widestEstimate_)), widestExact_);
}

void TMemo::scheduleSync() {
    // One update of the scroll bars and one repaint per burst of appends, however long, and
    // at most one every kSyncEveryMs however many bursts.
    if (syncPending_)
        return;
    syncPending_ = true;
    const qint64 since = lastSync_.isValid() ? lastSync_.elapsed() : qint64(kSyncEveryMs);
    syncTimer_->start(since >= kSyncEveryMs ? 0 : int(kSyncEveryMs - since));
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
    syncTimer_->stop();
    lastSync_.start();
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
    // The text starts 3 pixels in; a few pixels after the widest line's end stay blank.
    const int width = 3 + textWidth() + 5;
    h->setRange(0, std::max(0, width - viewport()->width()));
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
    if (e->type() == QEvent::FontChange) {
        remeasure_ = true;
        scheduleSync();
    }
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
