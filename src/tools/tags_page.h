// The tag page: every tag of every inventory, whichever page started it, in a table by
// EPC with its antenna, read count and signal strength, the current run's figures above it
// and the totals since CLEAR below it, and the table saved as a CSV file.
#pragma once

#include "tools/tag_table.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTableView;

namespace rd {

class FormTimer;
class TagSortModel;
class TagTableModel;

class TagsPage : public QWidget {
    Q_OBJECT
  public:
    // The clock defaults to the window's clock (NowMs()).
    explicit TagsPage(QWidget* parent = nullptr, TagTable::Clock clock = {});
    ~TagsPage() override;

    // Answer handler, called by the answer routing with every answer text.
    void TagsAnswer(const QString& answer);
    // An answer of a recorded session, with the time it arrived then.
    void TagsAnswerAt(const QString& answer, int64_t atMs);

    void BitBtnTAGS_CLEARClick();
    void BitBtnTAGS_CSVClick();
    // The refresh (TimerTAGS, every 100 ms while there is something to show): the
    // table's new and changed rows and the summary.
    void TimerTAGSTimer();

    // What the window tells the page: an inventory run started (its figures start from
    // zero), or ended (they stay until the next start).
    void runStarted();
    void runEnded();

    TagTable& table() { return table_; }

  signals:
    // "Open session…": the window loads a recorded session.
    void openSessionClicked();
    // CLEAR emptied the table.
    void cleared();

  public:
    TagTableModel& model() { return *model_; }
    TagSortModel& sortModel() { return *sort_; }

  private:
    TagTable table_;
    TagTableModel* model_;
    TagSortModel* sort_;
    // Refreshes both figure lines.
    void showFigures();

    QLabel* summary_;
    QLabel* total_;
    QPushButton* clear_;
    QPushButton* csv_;
    QPushButton* open_;
    QTableView* view_;
    FormTimer* timer_;
    bool pending_ = false; // answers taken since the last refresh
};

} // namespace rd
