#include "tools/saw_trends.h"

#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/widgets.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QValueAxis>

#include <algorithm>

namespace rd {

namespace {
const char* const kSeriesNames[7] = {"T F0", "H F0", "T F1", "H F1", "T F2", "H F2", "df F2"};
constexpr qint64 kMinTimeSpanMs = 2000;
constexpr qint64 kMaxTimeTicks = 5;

// The value axis's range over the points, one unit wider on each side so that a flat
// trend does not lie on the frame.
void FitRange(QValueAxis* axis, const QList<QPointF>* const lists[], int count) {
    double lo = 0, hi = 0;
    bool any = false;
    for (int i = 0; i < count; ++i) {
        for (const QPointF& p : *lists[i]) {
            lo = any ? std::min(lo, p.y()) : p.y();
            hi = any ? std::max(hi, p.y()) : p.y();
            any = true;
        }
    }
    axis->setRange(lo - 1, hi + 1);
}
} // namespace

SawTrends::SawTrends(QWidget* page, SawMonitorModel& model, std::function<void(int)> sendRead)
    : QObject(page), model_(model), sendRead_(std::move(sendRead)), page_(page) {
    auto* chart = new QChart;
    // Room for the plot at the window's smallest: the legend in one line above it, few
    // value ticks, no margins to speak of.
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setBackgroundRoundness(0);
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis_->setTickCount(kMaxTimeTicks);
    valueAxis_ = new QValueAxis;
    valueAxis_->setTitleText(QStringLiteral("T, H"));
    valueAxis_->setLabelFormat(QStringLiteral("%d"));
    valueAxis_->setTickCount(3);
    dfAxis_ = new QValueAxis;
    dfAxis_->setTitleText(QStringLiteral("df, kHz"));
    dfAxis_->setLabelFormat(QStringLiteral("%d"));
    dfAxis_->setTickCount(3);
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(valueAxis_, Qt::AlignLeft);
    chart->addAxis(dfAxis_, Qt::AlignRight);
    for (int i = 0; i < 7; ++i) {
        series_[i] = new QLineSeries;
        series_[i]->setName(QString::fromLatin1(kSeriesNames[i]));
        // A colour per tag; T drawn solid, H dashed, df dotted.
        static const QColor tagColors[3] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(214, 39, 40)};
        QPen pen(i == 6 ? QColor(44, 160, 44) : tagColors[i / 2], 2);
        pen.setStyle(i == 6 ? Qt::DotLine : i % 2 ? Qt::DashLine : Qt::SolidLine);
        series_[i]->setPen(pen);
        series_[i]->setPointsVisible(true);
        series_[i]->setMarkerSize(3);
        chart->addSeries(series_[i]);
        series_[i]->attachAxis(timeAxis_);
        series_[i]->attachAxis(i == 6 ? dfAxis_ : valueAxis_);
    }
    view_ = new QChartView(chart, page);
    view_->setObjectName(QStringLiteral("ChartZEZ2011"));
    view_->setAccessibleName(tr("sensor trends"));
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(120, 80);
    updateChart();

    readAfter_ = new QCheckBox(QStringLiteral("read tags after collection"), page);
    readAfter_->setObjectName(QStringLiteral("CheckBoxZEZ2011_READ_AFTER"));
    readAfter_->setToolTip(tr("After each collection read the three tags, one after the other"));
    csv_ = MakeButton(page, QStringLiteral("BitBtnZEZ2011_CSV"), QStringLiteral("CSV"), colors::blue(),
                      tr("Save every reading as a CSV file"));
    readTimer_ = new FormTimer(QStringLiteral("TimerZEZ2011_READ_AFTER"), kReadGapMs, false, this);

    chartTimer_.setSingleShot(true);
    chartTimer_.setInterval(kChartUpdateMs);
    connect(&chartTimer_, &QTimer::timeout, this, [this] { updateChart(); });
    connect(readAfter_, &QCheckBox::toggled, this, [this](bool on) { runTimer(model_.setReadAfter(on)); });
    OnClick(csv_, [this] { BitBtnZEZ2011_CSVClick(); });
    readTimer_->onTimer([this] { TimerZEZ2011_READ_AFTERTimer(); });
}

void SawTrends::show(const SawMonitorModel::Outcome& out) {
    if (out.readingAdded && !chartTimer_.isActive())
        chartTimer_.start();
    runTimer(out.readTimer);
}

void SawTrends::updateChart() {
    QList<QPointF> points[7];
    const std::deque<SawReading>& readings = model_.readings();
    for (const SawReading& r : readings) {
        const double x = double(r.msecs);
        points[2 * r.tag].append(QPointF(x, r.t));
        points[2 * r.tag + 1].append(QPointF(x, r.h));
        if (r.tag == 2)
            points[6].append(QPointF(x, r.df));
    }
    for (int i = 0; i < 7; ++i)
        series_[i]->replace(points[i]);

    // The time axis spans the readings kept, at least 2 s (around their middle), with at most
    // 5 ticks and at least a second between two: no two labels (to the second) are the same.
    qint64 from = readings.empty() ? Now().toMSecsSinceEpoch() : readings.front().msecs;
    qint64 to = readings.empty() ? from : readings.back().msecs;
    if (to - from < kMinTimeSpanMs) {
        const qint64 middle = from + (to - from) / 2;
        from = middle - kMinTimeSpanMs / 2;
        to = from + kMinTimeSpanMs;
    }
    timeAxis_->setTickCount(int(std::min<qint64>((to - from) / 1000 + 1, kMaxTimeTicks)));
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    const QList<QPointF>* th[6] = {&points[0], &points[1], &points[2], &points[3], &points[4], &points[5]};
    FitRange(valueAxis_, th, 6);
    const QList<QPointF>* df[1] = {&points[6]};
    FitRange(dfAxis_, df, 1);
}

void SawTrends::TimerZEZ2011_READ_AFTERTimer() {
    const SawMonitorModel::ReadTick tick = model_.readTimerFired();
    runTimer(tick.timer);
    if (tick.tag >= 0)
        sendRead_(tick.tag);
}

void SawTrends::runTimer(const SawMonitorModel::ReadTimer& t) {
    if (t.kind == SawMonitorModel::ReadTimer::Keep)
        return;
    readTimer_->setEnabled(false);
    if (t.kind == SawMonitorModel::ReadTimer::Stop)
        return;
    readTimer_->setInterval(t.intervalMs);
    readTimer_->setEnabled(true);
}

void SawTrends::BitBtnZEZ2011_CSVClick() {
    const QString base =
        ExecuteSaveDialog(page_, QStringLiteral("SaveDialogZEZ2011_CSV"), TimeFileName(TimeText()));
    if (base.isEmpty())
        return;
    WriteTextLinesFile(base + QStringLiteral("-ZEZ2011.csv"), SawCsvLines(model_.readings()),
                       FileText::AnswerBytes);
}

} // namespace rd
