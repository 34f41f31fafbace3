// Cost of the TAGS page: time to take one answer (inventory cycles reading every listed
// tag, their refreshes included as they fall due every 100 ms) with 10 and with 10,000
// tags listed, and the time of one refresh after every row of 10,000 changed. The page is
// shown on the offscreen platform, its table sorted by Reads, the column that changes
// with every read.
#include "bench_tools_support.h"
#include "tools/tag_table.h"
#include "tools/tag_table_model.h"
#include "tools/tags_page.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

QString TagAnswer(int n, int signal) {
    return QStringLiteral(":00000001 INV 1 3000 30080000%1 %2;")
        .arg(n, 8, 16, QLatin1Char('0'))
        .arg(-40 - signal);
}
const QString kCycle = QStringLiteral(":00000001 START_INVENTORY;");

// Shows the page, its table sorted by Reads.
void ShowSortedByReads(QApplication& app, rd::TagsPage& page) {
    page.resize(900, 500);
    page.show();
    page.findChild<QTableView*>(QStringLiteral("TableTAGS"))
        ->sortByColumn(rd::TagTable::kReads, Qt::DescendingOrder);
    app.processEvents();
}

// Microseconds per answer (median of the rounds) with `tags` tags listed.
double MeasureAt(QApplication& app, int tags) {
    rd::TagsPage page;
    ShowSortedByReads(app, page);
    // The answers made beforehand: 30 signal strengths of every tag.
    std::vector<QString> answers;
    for (int s = 0; s < 30; ++s)
        for (int i = 0; i < tags; ++i)
            answers.push_back(TagAnswer(i, s));
    int cycle = 0;
    int sinceEvents = 0;
    // Events (the refresh among them) handled after every 100 answers, as the window's
    // routing hands answers over in batches.
    auto take = [&](const QString& answer) {
        page.TagsAnswer(answer);
        if (++sinceEvents == 100) {
            sinceEvents = 0;
            app.processEvents();
        }
    };
    auto runCycle = [&] {
        take(kCycle);
        const std::size_t base = std::size_t(cycle % 30) * std::size_t(tags);
        for (int i = 0; i < tags; ++i)
            take(answers[base + std::size_t(i)]);
        ++cycle;
    };
    runCycle();
    page.TimerTAGSTimer();

    const int rounds = 7;
    const int perRound = std::max(20'000, tags * 2);
    std::vector<double> us;
    QElapsedTimer t;
    for (int r = 0; r < rounds; ++r) {
        const int64_t before = page.table().reads() + page.table().cycles();
        t.restart();
        while (page.table().reads() + page.table().cycles() - before < perRound)
            runCycle();
        const int64_t taken = page.table().reads() + page.table().cycles() - before;
        us.push_back(double(t.nsecsElapsed()) / 1e3 / double(taken));
    }
    if (page.table().tags() != tags) {
        std::fprintf(stderr, "bench_tag_table: %d tags listed, expected %d\n", page.table().tags(), tags);
        std::exit(1);
    }
    return rd::bench::Median(us);
}

// Milliseconds of one refresh (median) after a cycle that changed every row of `tags`.
double RefreshMs(QApplication& app, int tags) {
    rd::TagsPage page;
    ShowSortedByReads(app, page);
    std::vector<double> ms;
    QElapsedTimer t;
    for (int cycle = 0; cycle < 8; ++cycle) {
        page.TagsAnswer(kCycle);
        // Reads in a changing order, so that the sorted order changes too.
        for (int i = 0; i < tags; ++i)
            for (int k = 0; k < 1 + (i * 7 + cycle) % 3; ++k)
                page.TagsAnswer(TagAnswer(i, (cycle + i) % 30));
        t.restart();
        page.TimerTAGSTimer();
        app.processEvents();
        if (cycle > 0) // the first refresh only inserts the rows
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return rd::bench::Median(ms);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    rd::bench::PrintCostAtFewAndMany([&](int tags) { return MeasureAt(app, tags); }, 10, 10'000,
                                     "tag_table_answer", "tag_table_cost_ratio");
    std::printf("tag_table_refresh_ms_at_10000 %.3f ms\n", RefreshMs(app, 10'000));
    return 0;
}
