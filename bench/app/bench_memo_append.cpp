// Appends a million terminal lines to MemoTERMINAL of the real window (shown on the
// offscreen platform, terminal page in front, the event loop turning every 1000 lines
// as the timer ticks would let it) and prints the cost of one line near the start and
// at the millionth line.
#include "line_list.h"
#include "main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    rd::TFormQUOR w;
    w.PageControl1->setCurrentWidget(w.TabSheetTERMINAL);
    w.show();
    app.processEvents();

    const int total = 1'000'000;
    const int window = 10'000; // lines measured at each point
    const int batch = 1000;
    const QString line =
        QStringLiteral("<< 00 3A 30 30 30 30 30 30 31 32 20 49 4E 56 20 31 20 33 20 33 30 30 38 3B ");
    double startUs = 0;
    double endUs = 0;
    QElapsedTimer t;
    for (int i = 0; i < total; i += batch) {
        const bool measured = i < window || i >= total - window;
        if (measured)
            t.restart();
        for (int k = 0; k < batch; ++k)
            w.MemoTERMINAL->append(line + QString::number(i + k));
        app.processEvents();
        if (measured) {
            const double us = double(t.nsecsElapsed()) / 1e3;
            (i < window ? startUs : endUs) += us;
        }
    }
    if (w.MemoTERMINAL->count() != total) {
        std::fprintf(stderr, "bench_memo_append: %d lines, expected %d\n", w.MemoTERMINAL->count(), total);
        return 1;
    }
    std::printf("memo_append_us_per_line_at_10k %.3f us\n", startUs / window);
    std::printf("memo_append_us_per_line_at_1M %.3f us\n", endUs / window);
    return 0;
}
