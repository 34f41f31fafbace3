// The window's line lists ("memos"): a list model that tools append to and read back,
// with a hash index beside the lines so that "is this line in the list" stays cheap
// however long the list grows, and a view that shows it.
#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QListView>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

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
    // How many lines equal text exactly (case-sensitive, whole line).
    int occurrences(const QString& text) const { return index_.value(text, 0); }
    bool contains(const QString& text) const { return index_.contains(text); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<QString> lines_;
    QHash<QString, int> index_;
};

// A multi-line text box showing a LineList: one row per line, uniform rows, read-only.
// A double-click calls the handler set with onDoubleClick (by default: clear the list).
class TMemo : public QListView {
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

protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void scheduleScroll();

    LineList* list_;
    std::function<void()> dblClick_;
    bool scrollPending_ = false;
};

} // namespace rd
