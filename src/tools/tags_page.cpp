#include "tools/tags_page.h"

#include "tools/tag_table_model.h"
#include "tools/tool_text.h"

#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/widgets.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

namespace rd {

namespace {

constexpr int kRefreshMs = 100;

TagTable::Clock WindowClock() {
    return [] { return int64_t(NowMs()); };
}

} // namespace

TagsPage::TagsPage(QWidget* parent, TagTable::Clock clock)
    : QWidget(parent), table_(clock ? std::move(clock) : WindowClock()) {
    setObjectName(QStringLiteral("TabSheetTAGS"));

    model_ = new TagTableModel(table_, this);
    sort_ = new TagSortModel(*model_, this);

    clear_ = MakeButton(this, QStringLiteral("BitBtnTAGS_CLEAR"), QStringLiteral("CLEAR"), colors::black(),
                        tr("Empty the table and the figures"));
    csv_ = MakeButton(this, QStringLiteral("BitBtnTAGS_CSV"), QStringLiteral("CSV"), colors::black(),
                      tr("Save the table as a CSV file"));
    open_ =
        MakeButton(this, QStringLiteral("BitBtnTAGS_OPEN"), QStringLiteral("Open session…"), colors::black(),
                   tr("Load a recorded session (a traffic log or readerdesk-cli monitor output) into the "
                      "terminal and this table, with the times it was recorded"));
    summary_ = MakeLabel(this, QStringLiteral("LabelTAGS_SUMMARY"), table_.summary());
    // Long figures break onto a second line instead of widening the window.
    summary_->setWordWrap(true);
    summary_->setToolTip(tr("The current inventory run, or the last one until the next start"));
    total_ = MakeLabel(this, QStringLiteral("LabelTAGS_TOTAL"), table_.totalText());
    total_->setWordWrap(true);
    total_->setToolTip(tr("Every row of the table"));

    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("TableTAGS"));
    view_->setAccessibleName(tr("tags"));
    view_->setModel(sort_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setColumnWidth(TagTable::kEpc, 220);
    // In the order the tags were first seen until the user picks a column.
    view_->sortByColumn(TagTable::kFirstSeen, Qt::AscendingOrder);
    view_->setSortingEnabled(true);

    timer_ = new FormTimer(QStringLiteral("TimerTAGS"), kRefreshMs, false, this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(clear_, 0, 0);
    grid->addWidget(csv_, 0, 1);
    grid->addWidget(open_, 0, 2);
    grid->addWidget(summary_, 0, 3);
    grid->addWidget(view_, 1, 0, 1, 4);
    grid->addWidget(total_, 2, 0, 1, 4);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(1, 1);

    OnClick(clear_, [this] { BitBtnTAGS_CLEARClick(); });
    OnClick(csv_, [this] { BitBtnTAGS_CSVClick(); });
    OnClick(open_, [this] { emit openSessionClicked(); });
    timer_->onTimer([this] { TimerTAGSTimer(); });
}

TagsPage::~TagsPage() = default;

void TagsPage::TagsAnswer(const QString& answer) {
    if (!table_.answer(answer))
        return;
    pending_ = true;
    // A running timer keeps its countdown: one refresh per period however many answers.
    timer_->setEnabled(true);
}

void TagsPage::showFigures() {
    summary_->setText(table_.summary());
    total_->setText(table_.totalText());
}

void TagsPage::runStarted() {
    table_.startRun();
    showFigures();
}

void TagsPage::runEnded() {
    table_.endRun();
    showFigures();
}

void TagsPage::TagsAnswerAt(const QString& answer, int64_t atMs) {
    if (!table_.answerAt(answer, atMs))
        return;
    pending_ = true;
    timer_->setEnabled(true);
}

void TagsPage::TimerTAGSTimer() {
    model_->flush();
    showFigures();
    // The rate falls to 0 a second after the last read; then there is nothing left to show.
    if (!pending_ && table_.rate() == 0)
        timer_->setEnabled(false);
    pending_ = false;
}

void TagsPage::BitBtnTAGS_CLEARClick() {
    model_->clear();
    pending_ = false;
    timer_->setEnabled(false);
    showFigures();
    emit cleared();
}

void TagsPage::BitBtnTAGS_CSVClick() {
    model_->flush(); // the file holds every row, also those not shown yet
    const QString path = ExecuteSaveDialog(this, QStringLiteral("SaveDialogTAGS"),
                                           TimeFileName(TimeText()) + QStringLiteral("-TAGS.csv"));
    if (path.isEmpty())
        return;
    QStringList lines{TagTable::CsvHeader()};
    // In the order the table shows.
    for (int i = 0; i < sort_->rowCount(); ++i)
        lines << table_.csvLine(sort_->mapToSource(sort_->index(i, 0)).row());
    WriteTextLinesFile(path, lines, FileText::AnswerBytes);
}

} // namespace rd
