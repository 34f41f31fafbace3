// Time to handle one tag answer through AntTestAnswer and InvLogAnswer of the real window
// (shown on the offscreen platform, antenna test page in front, a test running and the
// log switched on), half of them new tags and half repeats, with 10 and with 100,000
// distinct tags already in the lists. Prints both figures and their ratio.
#include "app/window/main_window.h"
#include "bench_tools_support.h"
#include "tools/ant_test.h"
#include "tools/inv_log.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString TagAnswer(int n) {
    return QStringLiteral(":00000001 INV 1 1 30080000%1 -61;").arg(n, 8, 16, QLatin1Char('0'));
}

// Microseconds per tag answer (median of the rounds) with `listed` distinct tags listed.
double MeasureAt(QApplication& app, int listed) {
    rd::TFormQUOR w;
    w.PageControl1->setCurrentWidget(w.pageANT_TEST);
    w.show();
    app.processEvents();
    w.findChild<QComboBox*>(QStringLiteral("ComboBox_ANT_TEST_STOP_INV"))
        ->setEditText(QStringLiteral("2000000000"));
    w.pageANT_TEST->BitBtn_ANT_TEST_STARTClick();
    w.findChild<QCheckBox*>(QStringLiteral("CheckBoxINV_LOG_ON"))->setChecked(true);

    auto handle = [&w](const QString& answer) {
        w.pageANT_TEST->AntTestAnswer(answer);
        w.pageLOG->InvLogAnswer(answer);
    };
    for (int i = 0; i < listed; ++i) {
        handle(TagAnswer(i));
        if (i % 1000 == 999)
            app.processEvents();
    }
    app.processEvents();

    const int rounds = 7;
    const int perRound = 2000;
    int next = listed;
    std::vector<double> us;
    QElapsedTimer t;
    for (int r = 0; r < rounds; ++r) {
        t.restart();
        for (int k = 0; k < perRound; ++k) {
            handle(k % 2 ? TagAnswer(next++) : TagAnswer((k * 7919) % listed));
            if (k % 100 == 99)
                app.processEvents();
        }
        us.push_back(double(t.nsecsElapsed()) / 1e3 / perRound);
    }
    if (w.pageANT_TEST->model().tags() != next || w.pageANT_TEST->model().cycles() != 0) {
        std::fprintf(stderr, "bench_tools_distinct: %d tags counted, expected %d\n",
                     w.pageANT_TEST->model().tags(), next);
        std::exit(1);
    }
    return rd::bench::Median(us);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    rd::bench::PrintCostAtFewAndMany([&](int listed) { return MeasureAt(app, listed); }, 10, 100'000,
                                     "distinct_tag_answer", "distinct_cost_ratio");
    return 0;
}
