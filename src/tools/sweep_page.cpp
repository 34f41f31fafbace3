#include "tools/sweep_page.h"

#include "tools/tool_text.h"

#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/widgets.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QGraphicsLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QValueAxis>

#include <algorithm>
#include <vector>

namespace rd {

namespace {
constexpr int kStepColumnWidth = 44; // "10 dB" and a count of thousands
} // namespace

SweepPage::SweepPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetSWEEP"));

    start_ = MakeButton(this, QStringLiteral("BitBtnSWEEP_START"), QStringLiteral("START"), colors::black(),
                        tr("Run the sweep: each attenuation, then an inventory of the cycles"));
    stop_ = MakeButton(this, QStringLiteral("BitBtnSWEEP_STOP"), QStringLiteral("STOP"), colors::black(),
                       tr("End the sweep now"));
    stop_->setEnabled(false);
    steps_ =
        MakeCombo(this, QStringLiteral("ComboBoxSWEEP_STEPS"), QString::fromLatin1(kSweepDefaultSteps),
                  {QString::fromLatin1(kSweepDefaultSteps), QStringLiteral("0 4 8 12 16 20 24 28"),
                   QStringLiteral("0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20")},
                  tr("The output attenuation of each step, in dB, apart by blanks"), tr("attenuation steps"));
    steps_->setMinimumWidth(260);
    cycles_ =
        MakeCombo(this, QStringLiteral("ComboBoxSWEEP_CYCLES"), QString::number(kSweepDefaultCycles),
                  {QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("50")},
                  tr("Whole inventory cycles counted at each attenuation"), tr("cycles per step"));
    csv_ = MakeButton(this, QStringLiteral("BitBtnSWEEP_CSV"), QStringLiteral("CSV"), colors::black(),
                      tr("Save the table as a CSV file"));
    png_ = MakeButton(this, QStringLiteral("BitBtnSWEEP_PNG"), QStringLiteral("PNG"), colors::black(),
                      tr("Save the chart as a PNG picture"));
    auto* stepsCaption = MakeLabel(this, QStringLiteral("LabelSWEEP_STEPS"), QStringLiteral("steps, dB"));
    auto* cyclesCaption = MakeLabel(this, QStringLiteral("LabelSWEEP_CYCLES"), QStringLiteral("cycles"));
    inventory_ = MakeLabel(this, QStringLiteral("LabelSWEEP_INVENTORY"), QString());
    state_ = MakeLabel(this, QStringLiteral("LabelSWEEP_STATE"), QString());

    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("TableSWEEP"));
    table_->setAccessibleName(tr("reads per step"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setMinimumSectionSize(36);

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setBackgroundRoundness(0);
    dbAxis_ = new QValueAxis;
    dbAxis_->setTitleText(QStringLiteral("attenuation, dB"));
    dbAxis_->setLabelFormat(QStringLiteral("%d"));
    tagsAxis_ = new QValueAxis;
    tagsAxis_->setTitleText(QStringLiteral("tags seen"));
    tagsAxis_->setLabelFormat(QStringLiteral("%d"));
    tagsAxis_->setTickType(QValueAxis::TicksDynamic);
    tagsAxis_->setTickAnchor(0);
    readsAxis_ = new QValueAxis;
    readsAxis_->setTitleText(QStringLiteral("reads"));
    readsAxis_->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(dbAxis_, Qt::AlignBottom);
    chart->addAxis(tagsAxis_, Qt::AlignLeft);
    chart->addAxis(readsAxis_, Qt::AlignRight);
    tagsSeries_ = new QLineSeries;
    tagsSeries_->setName(QStringLiteral("tags seen"));
    tagsSeries_->setPen(QPen(QColor(31, 119, 180), 2));
    readsSeries_ = new QLineSeries;
    readsSeries_->setName(QStringLiteral("reads"));
    readsSeries_->setPen(QPen(QColor(255, 127, 14), 2, Qt::DashLine));
    for (QLineSeries* s : {tagsSeries_, readsSeries_}) {
        s->setPointsVisible(true);
        s->setMarkerSize(5);
        chart->addSeries(s);
        s->attachAxis(dbAxis_);
    }
    tagsSeries_->attachAxis(tagsAxis_);
    readsSeries_->attachAxis(readsAxis_);
    chartView_ = new QChartView(chart, this);
    chartView_->setObjectName(QStringLiteral("ChartSWEEP"));
    chartView_->setAccessibleName(tr("tags seen and reads per step"));
    chartView_->setRenderHint(QPainter::Antialiasing);
    chartView_->setMinimumSize(120, 220);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("SplitterSWEEP"));
    split->addWidget(table_);
    split->addWidget(chartView_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    auto* grid = new QGridLayout(this);
    grid->addWidget(start_, 0, 0);
    grid->addWidget(stop_, 0, 1);
    grid->addWidget(stepsCaption, 0, 2);
    grid->addWidget(steps_, 0, 3);
    grid->addWidget(cyclesCaption, 0, 4);
    grid->addWidget(cycles_, 0, 5);
    grid->addWidget(csv_, 0, 6);
    grid->addWidget(png_, 0, 7);
    grid->addWidget(inventory_, 1, 0, 1, 4);
    grid->addWidget(state_, 1, 4, 1, 4);
    grid->addWidget(split, 2, 0, 1, 8);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(2, 1);

    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { refresh(); });
    OnClick(start_, [this] { BitBtnSWEEP_STARTClick(); });
    OnClick(stop_, [this] { BitBtnSWEEP_STOPClick(); });
    OnClick(csv_, [this] { BitBtnSWEEP_CSVClick(); });
    OnClick(png_, [this] { BitBtnSWEEP_PNGClick(); });
    refresh();
}

void SweepPage::BitBtnSWEEP_STARTClick() {
    if (connected_ && !connected_())
        throw AppError(QStringLiteral("No reader connected: press COM on the UTIL page first"));
    // Bad box texts end the click here, with the box named.
    const SweepModel::Outcome out = model_.start(steps_->currentText(), cycles_->currentText());
    inventory_->setText(QStringLiteral("inventory: ") + shell_.InventoryStartCommand().trimmed() +
                        QStringLiteral(" (900 page)"));
    refresh();
    perform(out);
}

void SweepPage::BitBtnSWEEP_STOPClick() {
    perform(model_.cancel());
}

void SweepPage::SweepAnswer(const QString& answer) {
    const SweepModel::Outcome out = model_.answer(answer);
    if (out.counted && !refreshTimer_.isActive())
        refreshTimer_.start();
    perform(out);
}

void SweepPage::runStopEnded(bool confirmed) {
    perform(model_.stopEnded(confirmed));
}

void SweepPage::connectionEnded() {
    perform(model_.connectionEnded());
}

void SweepPage::perform(const SweepModel::Outcome& out) {
    if (out.stateChanged)
        showState();
    if (out.stopInventory)
        shell_.StopInventoryRun();
    if (out.startInventory) {
        // A step's start: the attenuation first, then the inventory as the antenna test starts it.
        try {
            shell_.SEND_STRING_COMA(out.setAttOut);
            shell_.SEND_STRING_COMA(shell_.InventoryStartCommand());
        } catch (...) {
            model_.cancel();
            showState();
            throw;
        }
    }
    if (out.stateChanged)
        refresh();
}

void SweepPage::showState() {
    const bool active = model_.active();
    start_->setEnabled(!active);
    stop_->setEnabled(active);
    steps_->setEnabled(!active);
    cycles_->setEnabled(!active);
    const QString text = model_.stateText();
    state_->setText(text);
    emit stateChanged(text);
}

void SweepPage::refresh() {
    const Sweep& s = model_.sweep();
    // The steps begun so far; every step once the sweep is over.
    const int steps = s.state() == Sweep::State::Idle ? 0 : s.step() + 1;
    const int rows = int(s.epcs().size());
    table_->setColumnCount(steps + 2);
    table_->setRowCount(rows);
    QStringList head{QStringLiteral("EPC")};
    for (int c = 0; c < steps; ++c)
        head << model_.stepCaption(c);
    head << QStringLiteral("margin dB");
    table_->setHorizontalHeaderLabels(head);
    auto cell = [this](int r, int c, const QString& text, bool number) {
        QTableWidgetItem* item = table_->item(r, c);
        if (!item) {
            item = new QTableWidgetItem;
            if (number)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(r, c, item);
        }
        if (item->text() != text)
            item->setText(text);
    };
    for (int r = 0; r < rows; ++r) {
        const std::string& epc = s.epcs()[std::size_t(r)];
        cell(r, 0, QString::fromLatin1(epc.data(), qsizetype(epc.size())), false);
        for (int c = 0; c < steps; ++c)
            cell(r, c + 1, QString::number(s.reads(r, c)), true);
        const std::optional<int> m = s.margin(r);
        cell(r, steps + 1, m ? QString::number(*m) : QStringLiteral("-"), true);
    }
    // Whole EPCs and margin caption; the counts in narrow columns, so that most steps fit.
    if (rows > 0) {
        const int before = table_->columnWidth(0);
        table_->resizeColumnToContents(0);
        table_->setColumnWidth(0, std::max(before, table_->columnWidth(0)));
    }
    for (int c = 1; c <= steps; ++c)
        table_->setColumnWidth(c, kStepColumnWidth);
    table_->resizeColumnToContents(steps + 1);

    // The chart: one point per step begun, in the order of attenuation.
    std::vector<int> order;
    for (int c = 0; c < steps; ++c)
        order.push_back(c);
    std::stable_sort(order.begin(), order.end(),
                     [&s](int a, int b) { return s.stepValue(a) < s.stepValue(b); });
    QList<QPointF> tags;
    QList<QPointF> reads;
    double maxReads = 0;
    for (int c : order) {
        tags.append(QPointF(s.stepValue(c), s.tagsSeen(c)));
        reads.append(QPointF(s.stepValue(c), double(s.stepReads(c))));
        maxReads = std::max(maxReads, double(s.stepReads(c)));
    }
    tagsSeries_->replace(tags);
    readsSeries_->replace(reads);
    const double lo = order.empty() ? 0 : s.stepValue(order.front());
    const double hi = order.empty() ? 20 : s.stepValue(order.back());
    dbAxis_->setRange(lo, std::max(hi, lo + 4));
    // Whole ticks: a tag or a read is never half of one.
    tagsAxis_->setRange(0, std::max(1, rows));
    tagsAxis_->setTickInterval(std::max(1, (rows + 4) / 5));
    readsAxis_->setRange(0, std::max(1.0, maxReads));
    readsAxis_->applyNiceNumbers();
}

void SweepPage::BitBtnSWEEP_CSVClick() {
    refresh(); // the file holds every count, also those not shown yet
    const QString path = ExecuteSaveDialog(this, QStringLiteral("SaveDialogSWEEP"),
                                           TimeFileName(TimeText()) + QStringLiteral("-SWEEP.csv"));
    if (path.isEmpty())
        return;
    WriteTextLinesFile(path, model_.csvLines(), FileText::AnswerBytes);
}

void SweepPage::BitBtnSWEEP_PNGClick() {
    refresh();
    const QString path = ExecuteSaveDialog(this, QStringLiteral("SaveDialogSWEEP_PNG"),
                                           TimeFileName(TimeText()) + QStringLiteral("-SWEEP.png"));
    if (path.isEmpty())
        return;
    if (!chartView_->grab().save(path, "PNG"))
        throw AppError(QStringLiteral("Cannot write the picture %1").arg(path));
}

} // namespace rd
