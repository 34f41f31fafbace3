// The SWEEP page on the real window against a simulated reader whose tags are read up to
// known attenuations.
#include "window_fixture.h"

#include "app/window/status_bar.h"
#include "tools/sweep_page.h"

#include <QChartView>
#include <QFile>
#include <QImage>
#include <QLineSeries>
#include <QTableWidget>
#include <QTemporaryDir>

#include <algorithm>

namespace rd::testing {
namespace {

using SweepPageTest = WindowTest;

sim::Options MarginReader() {
    sim::Options o;
    o.identifier = "VKR900-15";
    o.tagMargins = {4, 8, 12};
    o.cyclePeriodMs = 10;
    return o;
}

TEST_F(SweepPageTest, FindsEachTagsMarginExactly) {
    connectedTo(MarginReader());
    SweepPage& page = *form().pageSWEEP;
    QStringList states;
    QObject::connect(&page, &SweepPage::stateChanged, [&](const QString& s) { states << s; });
    c<QComboBox>("ComboBoxSWEEP_STEPS")->setEditText("0 2 4 6 8 10 12 14");
    c<QComboBox>("ComboBoxSWEEP_CYCLES")->setEditText("3");
    click("BitBtnSWEEP_START");
    EXPECT_FALSE(enabled("BitBtnSWEEP_START"));
    EXPECT_TRUE(enabled("BitBtnSWEEP_STOP"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.model().active(); }, 20000))
        << page.model().stateText().toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    const Sweep& s = page.model().sweep();
    ASSERT_EQ(s.state(), Sweep::State::Done) << page.model().stateText().toStdString();
    ASSERT_EQ(s.epcs().size(), 3u);
    for (int e = 0; e < 3; ++e) {
        const int margin = 4 * (e + 1);
        EXPECT_EQ(s.epcs()[std::size_t(e)], "300800000000000" + std::to_string(e + 1));
        EXPECT_EQ(s.margin(e), margin);
        for (int step = 0; step < 8; ++step)
            EXPECT_EQ(s.reads(e, step), 2 * step <= margin ? 3u : 0u) << e << " " << step;
    }
    // Each step: its attenuation, then the inventory with the 900 page's parameters, stopped
    // and confirmed before the next attenuation.
    std::vector<std::string> attenuations;
    std::vector<std::string> expected;
    int starts = 0;
    for (const std::string& cmd : sent()) {
        if (cmd.rfind("SET_ATT_OUT", 0) == 0) {
            attenuations.push_back(cmd);
            EXPECT_EQ(starts, int(attenuations.size()) - 1) << cmd;
        }
        starts += cmd == "KELM_EPC_INVENTORY_TIME 20 5 15";
    }
    for (int dB = 0; dB <= 14; dB += 2)
        expected.push_back("SET_ATT_OUT " + std::to_string(dB));
    EXPECT_EQ(attenuations, expected);
    EXPECT_EQ(starts, 8);
    EXPECT_FALSE(sim->inventoryRunning());
    EXPECT_EQ(form().StopPending(), 0);

    // Progress and the end, on the page and in the status bar.
    EXPECT_TRUE(states.contains("sweep: step 4 of 8, 6 dB")) << states.join('|').toStdString();
    EXPECT_EQ(states.last(), "sweep done: 8 steps, 3 tags");
    EXPECT_EQ(text("LabelSTATUS_SWEEP"), "sweep done: 8 steps, 3 tags");
    EXPECT_EQ(text("LabelSWEEP_STATE"), "sweep done: 8 steps, 3 tags");
    EXPECT_TRUE(enabled("BitBtnSWEEP_START"));
    EXPECT_FALSE(enabled("BitBtnSWEEP_STOP"));

    // The table: a row per EPC, a column per step, the margin last.
    QTableWidget* table = page.table();
    ASSERT_EQ(table->rowCount(), 3);
    ASSERT_EQ(table->columnCount(), 10);
    EXPECT_EQ(table->horizontalHeaderItem(4)->text(), "6 dB");
    EXPECT_EQ(table->horizontalHeaderItem(9)->text(), "margin dB");
    EXPECT_EQ(table->item(1, 0)->text(), "3008000000000002");
    EXPECT_EQ(table->item(1, 5)->text(), "3");
    EXPECT_EQ(table->item(1, 6)->text(), "0");
    EXPECT_EQ(table->item(1, 9)->text(), "8");
    // The chart: tags seen per step.
    const auto series = page.chart()->chart()->series();
    ASSERT_EQ(series.size(), 2);
    const QList<QPointF> seen = static_cast<QLineSeries*>(series[0])->points();
    ASSERT_EQ(seen.size(), 8);
    EXPECT_EQ(seen[3], QPointF(6, 2));
    EXPECT_EQ(seen[7], QPointF(14, 0));

    // CSV and PNG.
    QTemporaryDir dir;
    savePath = dir.filePath("sweep.csv");
    click("BitBtnSWEEP_CSV");
    QFile csv(savePath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(csv.readAll()).split("\r\n");
    EXPECT_EQ(lines.value(0), "EPC,0 dB,2 dB,4 dB,6 dB,8 dB,10 dB,12 dB,14 dB,margin dB");
    EXPECT_EQ(lines.value(3), "3008000000000003,3,3,3,3,3,3,3,0,12");
    EXPECT_EQ(lines.value(4), "tags seen,3,3,3,2,2,1,1,0,");
    savePath = dir.filePath("sweep.png");
    click("BitBtnSWEEP_PNG");
    EXPECT_FALSE(QImage(savePath).isNull());
    EXPECT_TRUE(dialogs.last().startsWith("SaveDialogSWEEP_PNG|")) << dialogs.last().toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(SweepPageTest, StopEndsTheSweepAtOnceWithAConfirmedStop) {
    connectedTo(MarginReader());
    SweepPage& page = *form().pageSWEEP;
    c<QComboBox>("ComboBoxSWEEP_CYCLES")->setEditText("100000");
    click("BitBtnSWEEP_START");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.model().sweep().cyclesDone() >= 2; }, 10000));
    click("BitBtnSWEEP_STOP");
    EXPECT_EQ(page.model().sweep().state(), Sweep::State::Cancelled);
    EXPECT_EQ(text("LabelSTATUS_SWEEP"), "sweep stopped at step 1 of 11, 0 dB");
    EXPECT_EQ(form().StopPending(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form().StopPending() == 0; }, 10000));
    EXPECT_EQ(form().runState(), RunState::Stopped);
    EXPECT_FALSE(sim->inventoryRunning());
    QTest::qWait(100);
    const std::vector<std::string> commands = sent();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& c) { return c.rfind("SET_ATT_OUT", 0) == 0; }),
              1);
    EXPECT_EQ(commands.back(), "EPC_STOP");
    EXPECT_TRUE(enabled("BitBtnSWEEP_START"));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(SweepPageTest, BadBoxTextsAreRefusedNamingTheBox) {
    struct Case {
        const char* steps;
        const char* cycles;
        const char* message;
    } cases[] = {
        {"0 2 x", "10",
         "Bad value in the attenuation steps box (ComboBoxSWEEP_STEPS): 'x' is not a whole number of dB "
         "from 0 to 999"},
        {"", "10", "Bad value in the attenuation steps box (ComboBoxSWEEP_STEPS): no attenuation given"},
        {"0 2", "0",
         "Bad value in the cycles per step box (ComboBoxSWEEP_CYCLES): 0; a whole number from 1 to 100000"},
        {"0 2", "ten",
         "Bad value in the cycles per step box (ComboBoxSWEEP_CYCLES): ten; a whole number from 1 to 100000"},
    };
    connectedTo(MarginReader());
    for (const Case& k : cases) {
        SCOPED_TRACE(k.message);
        errors.clear();
        c<QComboBox>("ComboBoxSWEEP_STEPS")->setEditText(k.steps);
        c<QComboBox>("ComboBoxSWEEP_CYCLES")->setEditText(k.cycles);
        click("BitBtnSWEEP_START");
        EXPECT_EQ(errors, QStringList{k.message});
        EXPECT_EQ(form().pageSWEEP->model().sweep().state(), Sweep::State::Idle);
        EXPECT_TRUE(enabled("BitBtnSWEEP_START"));
    }
    EXPECT_TRUE(sent().empty());
}

} // namespace
} // namespace rd::testing
