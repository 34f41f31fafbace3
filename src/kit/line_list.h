// The window's line lists ("memos"): a list model that tools append to and read back,
// with a hash index beside the lines so that "is this line in the list" stays cheap
// however long the list grows, and a view that shows it.
#pragma once

#include <QAbstractListModel>
#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QHash>
#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

class QTimer;

namespace rd {

// How many lines a display log (terminal, receive and message boxes) keeps.
inline constexpr int kDisplayLogLines = 100000;

// Line texts packed one after the other into large blocks: one byte a character when every
// character of the line is below U+0100, two (UTF-16) otherwise. Appending never moves the
// text already stored; dropping lines from the front frees a block once no line uses it.
class LineStore {
  public:
    LineStore() = default;
    LineStore(const LineStore&) = delete;
    LineStore& operator=(const LineStore&) = delete;

    void push_back(QStringView text);
    void pop_front();
    void clear();
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    QString at(std::size_t i) const;
    // Calls f with the stored text of line i: a QLatin1StringView for a one-byte line, a
    // QStringView otherwise; valid until the line is dropped.
    template <class F> decltype(auto) visit(std::size_t i, F&& f) const {
        const Entry& e = entries_[i];
        const char* p = blocks_[e.block - firstBlock_].data.get() + e.offset;
        if (e.wide)
            return f(QStringView(reinterpret_cast<const char16_t*>(p), qsizetype(e.size)));
        return f(QLatin1StringView(p, qsizetype(e.size)));
    }

  private:
    static constexpr std::size_t kBlockBytes = 64 * 1024;
    struct Entry {
        uint32_t block;     // block number, counted since the store was made or cleared
        uint32_t offset;    // in bytes within the block
        uint32_t size : 31; // in characters
        uint32_t wide : 1;
    };
    struct Block {
        std::unique_ptr<char[]> data;
        std::size_t bytes;
    };
    char* reserve(std::size_t bytes, std::size_t align);
    void recycle(Block& b);

    std::deque<Entry> entries_;
    std::deque<Block> blocks_; // blocks_[k] is block number firstBlock_ + k
    uint32_t firstBlock_ = 0;
    std::size_t used_ = 0;          // bytes used in the last block
    std::unique_ptr<char[]> spare_; // a freed standard block, used again for the next one
};

// A list of lines. A list with a line limit (setMaxLines) keeps its newest lines: when an
// append goes past the limit, the oldest line goes, and a first row, added in front of the
// kept lines, says how many went. A list without a limit (the default) never drops a line.
class LineList : public QAbstractListModel {
    Q_OBJECT
  public:
    explicit LineList(QObject* parent = nullptr);

    void append(const QString& line);
    void clear();
    void setLines(const QStringList& lines);

    // The most lines kept (the dropped-lines row not counted); 0: no limit. Setting a
    // limit below the present size drops the oldest lines at once.
    void setMaxLines(int maxLines);
    int maxLines() const { return maxLines_; }
    // Lines dropped since the list was last emptied.
    qint64 dropped() const { return dropped_; }
    // The first row's text once lines have been dropped.
    static QString droppedText(qint64 dropped);

    // Rows: the dropped-lines row, if any, then the lines.
    int count() const { return int(lines_.size()) + marker(); }
    // Row i, or the empty text when i is outside the list.
    QString line(int i) const;
    QStringList lines() const;
    // Calls f with the stored text of row i (see LineStore::visit); i must be a row.
    template <class F> decltype(auto) visitLine(int i, F&& f) const {
        if (i < marker()) {
            const QString t = droppedText(dropped_);
            return f(QStringView(t));
        }
        return lines_.visit(std::size_t(i - marker()), std::forward<F>(f));
    }
    // How many lines equal text exactly (case-sensitive, whole line). The index behind
    // these is built on the first question and kept in step from then on, so lists that
    // nobody asks (the logs) never pay for it.
    int occurrences(const QString& text) const { return index().value(text, 0); }
    bool contains(const QString& text) const { return index().contains(text); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    const QHash<QString, int>& index() const;
    int marker() const { return dropped_ > 0 ? 1 : 0; }
    void trim();

    LineStore lines_;
    int maxLines_ = 0;
    qint64 dropped_ = 0;
    mutable QHash<QString, int> index_;
    mutable bool indexed_ = false;
};

// A multi-line text box showing a LineList: one row per line, all rows of one height,
// read-only. It paints only the rows in sight, so appending and scrolling cost the same
// at ten lines and at a million. Lines can be selected with the mouse or the keyboard and
// copied (Ctrl+C). A double-click calls the handler set with onDoubleClick (by default:
// clear the list). However fast lines come, the scroll bars and the rows in sight are
// brought up to date at most every kSyncEveryMs (the first change after a quiet spell at
// once).
class TMemo : public QAbstractScrollArea {
    Q_OBJECT
  public:
    static constexpr int kSyncEveryMs = 100;

    explicit TMemo(const QString& objectName, QWidget* parent = nullptr);

    LineList* lines() const { return list_; }
    // Shorthands for the list.
    void append(const QString& line) { list_->append(line); }
    void clear() { list_->clear(); }
    int count() const { return list_->count(); }
    QString line(int i) const { return list_->line(i); }
    void setMaxLines(int maxLines) { list_->setMaxLines(maxLines); }
    int maxLines() const { return list_->maxLines(); }

    // Runs inside the window's error handling.
    void onDoubleClick(std::function<void()> handler) { dblClick_ = std::move(handler); }
    // Simulates the user's double-click (tests, accessibility).
    void doubleClick();

    void setTextColor(const QColor& c);
    QColor textColor() const;

    // Brings the scroll bars up to date at once and shows the last line.
    void scrollToBottom();
    // The first row in sight, and the selected rows (first > last when none).
    int firstVisibleRow() const;
    int selectionFirst() const { return std::min(anchor_, cursor_); }
    int selectionLast() const { return std::max(anchor_, cursor_); }
    // The selected lines, joined by line feeds.
    QString selectedText() const;
    // The width in pixels of the widest line in the view's font (it sets how far the view
    // scrolls sideways).
    int textWidth();

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;

  private:
    void onRowsInserted(int first, int last);
    void onRowsChanged(int first, int last);
    void onRowsRemoved(int first, int last);
    void onReset();
    void measure(int row);
    void scheduleSync();
    void syncScrollBars(bool toEnd = false);
    int rowHeight() const;
    int visibleRows() const;
    int rowAt(int y) const;
    void moveCursor(int row, bool extend);

    LineList* list_;
    std::function<void()> dblClick_;
    bool syncPending_ = false;
    QTimer* syncTimer_;
    QElapsedTimer lastSync_;
    // The widest line: every appended line is estimated once from a table of character
    // advances; only a line that beats the widest estimate so far is measured as a whole.
    std::array<qreal, 256> advance_{};
    bool advanceValid_ = false;
    bool remeasure_ = false; // the font changed: estimate every line again
    qreal widestEstimate_ = 0;
    QString widestLine_;
    int widestExact_ = 0;   // horizontalAdvance(widestLine_); -1 until measured
    int droppedDigits_ = 0; // of the dropped-lines count when its row was last measured
    int anchor_ = 0;
    int cursor_ = -1;
};

} // namespace rd
