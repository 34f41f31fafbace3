// Appends a million terminal lines to MemoTERMINAL of the real window (shown on the
// offscreen platform, terminal page in front, the event loop turning every 1000 lines
// as the timer ticks would let it) and prints the cost of one line near the start and
// at the millionth line (the terminal keeps the newest lines only, so this includes
// dropping the oldest). The same for a data list that keeps every line (MemoLOG_STR).
#include "app/window/main_window.h"
#include "kit/line_list.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>

#include <cstdio>

namespace {

constexpr int kTotal = 1'000'000;
constexpr int kWindow = 10'000; // lines measured at each point
constexpr int kBatch = 1000;

// Microseconds per line over the first and the last kWindow lines.
std::pair<double, double> AppendMillion(QApplication& app, rd::TMemo* memo) {
    const QString line =
        QStringLiteral("<< 00 3A 30 30 30 30 30 30 31 32 20 49 4E 56 20 31 20 33 20 33 30 30 38 3B ");
    double startUs = 0;
    double endUs = 0;
    QElapsedTimer t;
    for (int i = 0; i < kTotal; i += kBatch) {
        const bool measured = i < kWindow || i >= kTotal - kWindow;
        if (measured)
            t.restart();
        for (int k = 0; k < kBatch; ++k)
            memo->append(line + QString::number(i + k));
        app.processEvents();
        if (measured) {
            const double us = double(t.nsecsElapsed()) / 1e3;
            (i < kWindow ? startUs : endUs) += us;
        }
    }
    return {startUs / kWindow, endUs / kWindow};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    rd::TFormQUOR w;
    w.PageControl1->setCurrentWidget(w.TabSheetTERMINAL);
    w.show();
    app.processEvents();

    const auto [termStart, termEnd] = AppendMillion(app, w.MemoTERMINAL);
    const QString last = QString::number(kTotal - 1);
    if (w.MemoTERMINAL->count() != rd::kDisplayLogLines + 1 ||
        !w.MemoTERMINAL->line(w.MemoTERMINAL->count() - 1).endsWith(last)) {
        std::fprintf(stderr, "bench_memo_append: terminal holds %d lines, expected %d\n",
                     w.MemoTERMINAL->count(), rd::kDisplayLogLines + 1);
        return 1;
    }
    w.MemoTERMINAL->clear();

    auto* data = w.findChild<rd::TMemo*>(QStringLiteral("MemoLOG_STR"));
    const double dataEnd = AppendMillion(app, data).second;
    if (data->count() != kTotal) {
        std::fprintf(stderr, "bench_memo_append: data list holds %d lines, expected %d\n", data->count(),
                     kTotal);
        return 1;
    }
    std::printf("memo_append_us_per_line_at_10k %.3f us\n", termStart);
    std::printf("memo_append_us_per_line_at_1M %.3f us\n", termEnd);
    std::printf("memo_append_us_per_line_at_1M_kept %.3f us\n", dataEnd);
    return 0;
}
