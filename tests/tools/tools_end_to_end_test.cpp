// The tools end to end: the real window, discovery, answer polling and routing, against
// simulated readers on a pseudo-terminal.
#include "window_fixture.h"

#include "ant_test.h"
#include "saw_monitor.h"

#include <QFile>
#include <QTemporaryDir>

namespace rd::testing {
namespace {

using EndToEnd = WindowTest;

TEST_F(EndToEnd, AntennaTestCountsCyclesAndTagsAndStopsItself) {
    sim::Options o;
    o.identifier = "VKR900-15";
    o.tagCount = 3;
    o.cyclePeriodMs = 20;
    connectedTo(o);
    ASSERT_TRUE(enabled("BitBtn_ANT_TEST_START"));
    click("BitBtn_ANT_TEST_START"); // stop count 5
    // Done when the stop is confirmed and the run control gives START back.
    ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("BitBtn_ANT_TEST_START"); }, 10000));
    AntTestPage& page = *form().pageANT_TEST;
    EXPECT_EQ(page.AntTestInvCount, 5);
    // The reader's tag answers carry the cycle number, so each cycle's three answers are
    // new texts; the tags of the fifth cycle arrive while the stop is pending.
    EXPECT_EQ(page.AntTestTagCount, 12);
    EXPECT_EQ(text("Label_ANT_TEST_INV_COUNT"), "INV:5");
    EXPECT_EQ(text("LabelANT_TEST_TAG_COUNT"), "TAGs:12");
    const QStringList tags = memo("MemoANT_TEST_TAGS")->lines()->lines();
    ASSERT_EQ(tags.size(), 12);
    for (const char* epc : {"3008000000000001", "3008000000000002", "3008000000000003"})
        EXPECT_EQ(tags.filter(QString::fromLatin1(epc)).size(), 4) << epc;
    EXPECT_FALSE(sim->inventoryRunning());
    EXPECT_EQ(form().StopPending(), 0);
    // The confirmation never reached MemoUTIL_REC; the cycles did.
    const QStringList rec = memo("MemoUTIL_REC")->lines()->lines();
    EXPECT_EQ(rec.filter("START_INVENTORY").size(), 5);
    EXPECT_TRUE(rec.filter("STOP_INVENTORY").isEmpty());
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
    EXPECT_TRUE(text(labels[2]).contains("kHz  mf= 43"));
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

} // namespace
} // namespace rd::testing
