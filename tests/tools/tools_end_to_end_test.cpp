// The tools end to end: the real window, discovery, answer polling and routing, against
// simulated readers on a pseudo-terminal.
#include "window_fixture.h"

#include "tools/ant_test.h"
#include "tools/saw_monitor.h"

#include <QChartView>
#include <QCheckBox>
#include <QFile>
#include <QLineSeries>
#include <QTemporaryDir>

#include <algorithm>

namespace rd::testing {
namespace {

using EndToEnd = WindowTest;

TEST_F(EndToEnd, AntennaTestCountsCyclesAndTagsAndStopsItself) {
    // A tag answers with the same text in every cycle, so three tags are three tags. With
    // a signal strength that moves from read to read every read is a new text: the tags
    // of the four cycles before the stop (those of the fifth arrive while the stop is
    // pending) count four times over.
    struct Case {
        bool varySignal;
        int tags;
    };
    for (const Case& k : {Case{false, 3}, Case{true, 12}}) {
        SCOPED_TRACE(k.varySignal ? "signal varies" : "signal steady");
        window.reset();
        sim.reset();
        sim::Options o;
        o.identifier = "VKR900-15";
        o.tagCount = 3;
        o.cyclePeriodMs = 20;
        o.varySignal = k.varySignal;
        connectedTo(o);
        ASSERT_TRUE(enabled("BitBtn_ANT_TEST_START"));
        click("BitBtn_ANT_TEST_START"); // stop count 5
        // Done when the stop is confirmed and the run control gives START back.
        ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("BitBtn_ANT_TEST_START"); }, 10000));
        AntTestPage& page = *form().pageANT_TEST;
        EXPECT_EQ(page.model().cycles(), 5);
        EXPECT_EQ(page.model().tags(), k.tags);
        EXPECT_EQ(text("Label_ANT_TEST_INV_COUNT"), "INV:5");
        EXPECT_EQ(text("LabelANT_TEST_TAG_COUNT"), QStringLiteral("TAGs:%1").arg(k.tags));
        const QStringList tags = memo("MemoANT_TEST_TAGS")->lines()->lines();
        ASSERT_EQ(tags.size(), k.tags);
        for (const char* epc : {"3008000000000001", "3008000000000002", "3008000000000003"})
            EXPECT_EQ(tags.filter(QString::fromLatin1(epc)).size(), k.tags / 3) << epc;
        EXPECT_FALSE(sim->inventoryRunning());
        EXPECT_EQ(form().StopPending(), 0);
        // The confirmation never reached MemoUTIL_REC; the cycles did.
        const QStringList rec = memo("MemoUTIL_REC")->lines()->lines();
        EXPECT_EQ(rec.filter("START_INVENTORY").size(), 5);
        EXPECT_TRUE(rec.filter("STOP_INVENTORY").isEmpty());
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    }
}

// The antenna test stops its own run once; an inventory the LOG page starts afterwards
// runs on, its cycles counted on the antenna page, and the distinct lists hold each run's
// three tags once however often they were read.
TEST_F(EndToEnd, AFinishedAntennaTestLeavesALogInventoryRunning) {
    sim::Options o;
    o.identifier = "VKR900-15";
    o.tagCount = 3;
    o.cyclePeriodMs = 20;
    connectedTo(o);
    c<QComboBox>("ComboBox_ANT_TEST_STOP_INV")->setEditText("2");
    click("BitBtn_ANT_TEST_START");
    ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("BitBtn_ANT_TEST_START"); }, 10000));
    AntTestPage& page = *form().pageANT_TEST;
    ASSERT_EQ(page.model().cycles(), 2);
    ASSERT_FALSE(sim->inventoryRunning());

    click("BitBtnLOG_INV_START");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.model().cycles() >= 8; }, 10000)) << page.model().cycles();
    EXPECT_EQ(form().StopPending(), 0);
    EXPECT_TRUE(sim->inventoryRunning());
    const std::vector<std::string> commands = sent();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "KELM_EPC_INVENTORY_TIME 20 5 15");
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "KELM_EPC_INVENTORY_TIME 20 5 15"), 2);
    // The answers of the second run carry its start counter: three more texts, no more.
    EXPECT_EQ(page.model().tags(), 6);
    EXPECT_GE(memo("MemoLOG_STR")->count(), 15);
    EXPECT_EQ(memo("MemoLOG_STR_FILTR")->count(), 3);
    EXPECT_EQ(text("LabelLOG_NUM_INV"), "CAPACITY: 3");

    click("BitBtnLOG_INV_STOP");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form().StopPending() == 0 && !sim->inventoryRunning(); }, 10000));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(EndToEnd, SensorTagCollectionAndReadsFillLabelsAndTheDataFile) {
    sim::Options o;
    o.identifier = "VKR433-SAW";
    o.collectionMs = 50;
    connectedTo(o);
    click("BitBtnZEZ2011_COLLECTION");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return memo("MemoZEZ2011_Info")->lines()->contains("collection stop "); }, 5000));
    EXPECT_TRUE(enabled("BitBtnZEZ2011_COLLECTION"));
    const char* const reads[] = {"BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0",
                                 "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1",
                                 "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2"};
    const char* const labels[] = {"LabelZEZ2011_0", "LabelZEZ2011_1", "LabelZEZ2011_2"};
    for (int i = 0; i < 3; ++i) {
        click(reads[i]);
        EXPECT_EQ(fontColor(reads[i]), colors::green());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !text(labels[i]).isEmpty(); }, 5000)) << labels[i];
        EXPECT_EQ(fontColor(reads[i]), colors::black());
        EXPECT_TRUE(text(labels[i]).startsWith(QStringLiteral("ID:EEEE-FEDCBAF%1  T:").arg(i))) << labels[i];
    }
    EXPECT_TRUE(text(labels[2]).contains(QStringLiteral("kHz  mf=\u00A043"))); // mf= kept with its value
    ASSERT_EQ(memo("MemoSAW_DATA")->count(), 1);
    const QString data = memo("MemoSAW_DATA")->line(0);
    EXPECT_TRUE(data.startsWith(FixedTimeText() + " T:")) << data.toStdString();

    QTemporaryDir dir;
    savePath = dir.filePath("sensors");
    click("BitBtnZEZ2011_File");
    QFile f(savePath + "-ZEZ2011.txt");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), (data + "\r\n").toUtf8());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// With "read tags after collection" on, the end of each collection reads the three tags,
// each after the previous one's answer, and their readings reach the chart; off, the
// collection is all that is sent.
TEST_F(EndToEnd, ReadingTheTagsAfterACollection) {
    const std::string collection = "SEND_COP_COLLECTION 16 48 11 3000";
    const std::string reads[3] = {"SEND_COP_READ_USER_ID EEEE FEDCBAF0 ",
                                  "SEND_COP_READ_USER_ID EEEE FEDCBAF1 ",
                                  "SEND_COP_READ_USER_ID EEEE FEDCBAF2 "};
    struct Case {
        bool on;
        std::vector<std::string> tags; // the tags in the reader's field; the others answer NO_ACK
        std::vector<std::string> sent;
        std::vector<int> points; // of the series T F0, T F1, T F2, df F2
    };
    const Case cases[] = {
        {false, {"EEEE-FEDCBAF0", "EEEE-FEDCBAF1", "EEEE-FEDCBAF2"}, {collection}, {0, 0, 0, 0}},
        {true,
         {"EEEE-FEDCBAF0", "EEEE-FEDCBAF1", "EEEE-FEDCBAF2"},
         {collection, reads[0], reads[1], reads[2]},
         {1, 1, 1, 1}},
        {true, {"EEEE-FEDCBAF1"}, {collection, reads[0], reads[1], reads[2]}, {0, 1, 0, 0}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.on) + " " + std::to_string(k.tags.size()));
        window.reset();
        sim.reset();
        sim::Options o;
        o.identifier = "VKR433-SAW";
        o.collectionMs = 50;
        o.replyDelayMs = 150;
        o.sensorTags = k.tags;
        connectedTo(o);
        c<QCheckBox>("CheckBoxZEZ2011_READ_AFTER")->setChecked(k.on);
        click("BitBtnZEZ2011_COLLECTION");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return memo("MemoZEZ2011_Info")->lines()->contains("collection stop "); }, 5000));
        if (k.on) {
            // Each read waits for the answer to the one before, which comes 150 ms late.
            for (std::size_t n = 2; n <= 4; ++n) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return sent().size() >= n; }, 5000)) << n;
                QTest::qWait(100);
                EXPECT_EQ(sent().size(), n);
            }
        }
        // The last answer routed, and time for anything more to go out.
        QTest::qWait(500);
        EXPECT_EQ(sent(), k.sent);
        std::vector<int> points;
        for (const char* name : {"T F0", "T F1", "T F2", "df F2"}) {
            for (QAbstractSeries* s : c<QChartView>("ChartZEZ2011")->chart()->series()) {
                if (s->name() == QLatin1String(name))
                    points.push_back(int(qobject_cast<QLineSeries*>(s)->count()));
            }
        }
        EXPECT_EQ(points, k.points);
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    }
}

} // namespace
} // namespace rd::testing
