// The window's line lists ("memos"): a list model that tools append to and read back,
// with a hash index beside the lines so that "is this line in the list" stays cheap
// however long the list grows, and a view that shows it.
#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QAbstractScrollArea>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <deque>
#include <functional>

namespace rd {

class LineList : public QAbstractListModel {
    Q_OBJECT
public:
    explicit LineList(QObject* parent = nullptr);

    void append(const QString& line);
    void clear();
    void setLines(const QStringList& lines);

    int count() const { return int(lines_.size()); }
    // Line i, or the empty text when i is outside the list.
    QString line(int i) const;
    QStringList lines() const;
    // How many lines equal text exactly (case-sensitive, whole line). The index behind
    // these is built on the first question and kept in step from then on, so lists that
    // nobody asks (the logs) never pay for it.
    int occurrences(const QString& text) const { return index().value(text, 0); }
    bool contains(const QString& text) const { return index().contains(text); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const QHash<QString, int>& index() const;

    // A deque: growing it never moves the lines already there.
    std::deque<QString> lines_;
    mutable QHash<QString, int> index_;
    mutable bool indexed_ = false;
};

// A multi-line text box showing a LineList: one row per line, all rows of one height,
// read-only. It paints only the rows in sight, so appending and scrolling cost the same
// at ten lines and at a million. Lines can be selected with the mouse or the keyboard and
// copied (Ctrl+C). A double-click calls the handler set with onDoubleClick (by default:
// clear the list).
class TMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TMemo(const QString& objectName, QWidget* parent = nullptr);

    LineList* lines() const { return list_; }
    // Shorthands for the list.
    void append(const QString& line) { list_->append(line); }
    void clear() { list_->clear(); }
    int count() const { return list_->count(); }
    QString line(int i) const { return list_->line(i); }

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
    void onReset();
    void scheduleSync();
    void syncScrollBars(bool toEnd = false);
    int rowHeight() const;
    int visibleRows() const;
    int rowAt(int y) const;
    void moveCursor(int row, bool extend);

    LineList* list_;
    std::function<void()> dblClick_;
    bool syncPending_ = false;
    int longestLine_ = 0; // in characters
    int anchor_ = 0;
    int cursor_ = -1;
};

} // namespace rd
