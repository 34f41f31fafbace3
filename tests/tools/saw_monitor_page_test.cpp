// The sensor-tag monitor on the real window: the answer handler's keyword tests and
// decoding, the read buttons' colours, the periodic collection and the data file.
#include "window_fixture.h"

#include "form_timer.h"
#include "saw_monitor.h"

#include <QFile>
#include <QTemporaryDir>

namespace rd::testing {
namespace {

const char* const kRead[3] = {"BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0",
                              "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1",
                              "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2"};

// A "UID" answer whose record carries T, H, mf and cf at their positions (1-based: id
// 1-13, T 23-24, H 25-26, mf 31-34, cf 35-38).
QString Uid(const QString& id, const QString& t, const QString& h, const QString& mf = "0000",
            const QString& cf = "0000") {
    return QStringLiteral(":00000005 UID ") + id + "-00000000" + t + h + "0000" + mf + cf + "00;";
}

class SawMonitorPageTest : public WindowTest {
  protected:
    SawMonitorPage& page() { return *form().pageZEZ2011; }
    void answer(const QString& a) { page().SawAnswer(a); }
    QStringList lines(const char* name) { return memo(name)->lines()->lines(); }
    FormTimer* timer() { return c<FormTimer>("TimerZEZ2011"); }
    void greenReadButtons() {
        for (const char* b : kRead)
            SetFontColor(c<QWidget>(b), colors::green());
    }
};

TEST_F(SawMonitorPageTest, DecodesTheUserIdRecordsOfTheThreeTags) {
    const QString time = FixedTimeText();
    struct Case {
        QString answer;
        QStringList info;
        const char* labelName; // the label that changes, or nullptr
        QString label;
        QStringList data;
    };
    const Case cases[] = {
        {Uid("EEEE-FEDCBAF0", "1A", "2d"),
         {"ID:EEEE-FEDCBAF0  T:26   H:45"},
         "LabelZEZ2011_0",
         "ID:EEEE-FEDCBAF0  T:26   H:45",
         {}},
        {Uid("EEEE-FEDCBAF1", "1G", "G1"),
         {"ID:EEEE-FEDCBAF1  T:1   H:0"},
         "LabelZEZ2011_1",
         "ID:EEEE-FEDCBAF1  T:1   H:0",
         {}},
        {Uid("EEEE-FEDCBAF2", "1a", "32", "0064", "0032"),
         {"cf= 430050kHz  mf= 430100kHz     df= 50kHz ", "ID:EEEE-FEDCBAF2  T:26   H:50"},
         "LabelZEZ2011_2",
         "ID:EEEE-FEDCBAF2  T:26   H:50  cf= 430050kHz  mf= 430100kHz",
         {time + " T:26 H:50  cf= 430050  mf= 430100 df= 50"}},
        {Uid("EEEE-FEDCBAF2", "00", "FF", "0032", "0064"),
         {"cf= 430100kHz  mf= 430050kHz     df= -50kHz ", "ID:EEEE-FEDCBAF2  T:0   H:255"},
         "LabelZEZ2011_2",
         "ID:EEEE-FEDCBAF2  T:0   H:255  cf= 430100kHz  mf= 430050kHz",
         {time + " T:0 H:255  cf= 430100  mf= 430050 df= -50"}},
        {Uid("EEEE-FEDCBAF2", "00", "00", "0032", "0032"),
         {"cf= 430050kHz  mf= 430050kHz     df= 0kHz ", "ID:EEEE-FEDCBAF2  T:0   H:0"},
         "LabelZEZ2011_2",
         "ID:EEEE-FEDCBAF2  T:0   H:0  cf= 430050kHz  mf= 430050kHz",
         {time + " T:0 H:0  cf= 430050  mf= 430050 df= 0"}},
        // Records too short for the positions read: one line naming the tag and the length.
        {":00000005 UID EEEE-FEDCBAF2-00000000325000000064;",
         {"ID:EEEE-FEDCBAF2  short record: 34 characters, 38 needed"},
         nullptr,
         {},
         {}},
        {":00000005 UID EEEE-FEDCBAF0-0000000032;",
         {"ID:EEEE-FEDCBAF0  short record: 24 characters, 26 needed"},
         nullptr,
         {},
         {}},
        // A foreign tag, a record shorter than an identifier, no record at all.
        {Uid("EEEE-FEDCBAF7", "1A", "2D"), {}, nullptr, {}, {}},
        {":00000005 UID EEEE-FEDCBA;", {}, nullptr, {}, {}},
        {":00000005 UID;", {}, nullptr, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        window.reset();
        greenReadButtons();
        answer(c.answer);
        EXPECT_EQ(lines("MemoZEZ2011_Info"), c.info);
        EXPECT_EQ(lines("MemoSAW_DATA"), c.data);
        for (const char* l : {"LabelZEZ2011_0", "LabelZEZ2011_1", "LabelZEZ2011_2"})
            EXPECT_EQ(text(l), c.labelName && qstrcmp(l, c.labelName) == 0 ? c.label : QString()) << l;
        for (const char* b : kRead)
            EXPECT_EQ(fontColor(b), colors::black()) << b;
    }
}

TEST_F(SawMonitorPageTest, CollectionAnswersSwitchTheCollectionButton) {
    memo("MemoZEZ2011_Info")->append("old");
    answer(":00000001 collection_start..;");
    EXPECT_EQ(lines("MemoZEZ2011_Info"), (QStringList{"collection start ", "wait.. "}));
    EXPECT_FALSE(enabled("BitBtnZEZ2011_COLLECTION"));
    answer(":00000001 collection_stop;");
    EXPECT_EQ(lines("MemoZEZ2011_Info").last(), "collection stop ");
    EXPECT_TRUE(enabled("BitBtnZEZ2011_COLLECTION"));
    answer(":00000001 collection_start..;");
    memo("MemoZEZ2011_Info")->doubleClick();
    EXPECT_TRUE(lines("MemoZEZ2011_Info").isEmpty());
    EXPECT_TRUE(enabled("BitBtnZEZ2011_COLLECTION"));
}

TEST_F(SawMonitorPageTest, OtherAnswersLeaveThePageAlone) {
    greenReadButtons();
    for (const char* a : {":00000001 OK;", ":00000001 uid x;", ":00000001 X UID;", "NO_ACK", ":1 no_ack;"})
        answer(QString::fromLatin1(a));
    EXPECT_TRUE(lines("MemoZEZ2011_Info").isEmpty());
    for (const char* b : kRead)
        EXPECT_EQ(fontColor(b), colors::green()) << b;
    answer(":00000001 NO_ACK;");
    for (const char* b : kRead)
        EXPECT_EQ(fontColor(b), colors::black()) << b;
}

TEST_F(SawMonitorPageTest, ReadButtonsSendTheirCommandAndTurnGreen) {
    sim::Options o;
    o.identifier = "VKR433-SAW";
    connectedTo(o);
    EXPECT_EQ(fontColor(kRead[2]), colors::blue());
    for (const char* b : kRead)
        click(b);
    ASSERT_TRUE(waitForSent(3));
    EXPECT_EQ(sent(), (std::vector<std::string>{"SEND_COP_READ_USER_ID EEEE FEDCBAF0 ",
                                                "SEND_COP_READ_USER_ID EEEE FEDCBAF1 ",
                                                "SEND_COP_READ_USER_ID EEEE FEDCBAF2 "}));
    for (const char* b : kRead)
        EXPECT_EQ(fontColor(b), colors::green()) << b;
    answer(":00000001 NO_ACK;");
    for (const char* b : kRead)
        EXPECT_EQ(fontColor(b), colors::black()) << b;
}

TEST_F(SawMonitorPageTest, CollectionAndSendUseTheBoxesAsTyped) {
    sim::Options o;
    o.identifier = "VKR433-SAW";
    connectedTo(o);
    c<QComboBox>("ComboBox433_TimeOut")->setEditText("2500");
    click("BitBtnZEZ2011_COLLECTION");
    auto* send = c<QComboBox>("ComboBoxZEZ2011_SEND");
    EXPECT_EQ(send->count(), 18);
    EXPECT_EQ(send->currentText(), "VERSION");
    send->setCurrentIndex(2); // an empty separator item
    click("BitBtnZEZ2011_SEND");
    send->setCurrentIndex(17);
    click("BitBtnZEZ2011_SEND");
    ASSERT_TRUE(waitForSent(3));
    EXPECT_EQ(sent(), (std::vector<std::string>{"SEND_COP_COLLECTION 16 48 11 2500", "",
                                                "SCAN_FROM_TO_STEP_T 430000 437000 100 1000"}));
}

// The timer with a period: what each tick sends, writes and shows.
TEST_F(SawMonitorPageTest, TimerCollectsEveryPeriodAndCountsDown) {
    struct Case {
        const char* period;
        int ticks;
        std::vector<int> collectAt; // ticks (from 1) that send a collection
        QStringList labels;         // the count label after ticks 1, 2, ...
    };
    const Case cases[] = {
        {"150", 152, {1, 151}, {"150", "149", "148"}},
        {"1", 3, {1, 2, 3}, {"1", "1", "1"}},
        {"0", 4, {1}, {"0", "-1", "-2", "-3"}},
        {"-2", 3, {1}, {"-2", "-3", "-4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("period ") + c.period);
        window.reset();
        this->c<QComboBox>("ComboBoxTomerZEZ2011Period")->setEditText(QString::fromLatin1(c.period));
        click("BitBtnTimerZEZ2011");
        EXPECT_TRUE(timer()->enabled());
        EXPECT_EQ(lines("MemoZEZ2011_Info"),
                  (QStringList{"process start..", QStringLiteral("period ") + c.period}));
        std::vector<int> collected;
        QColor previous = fontColor("BitBtnTimerZEZ2011");
        for (int t = 1; t <= c.ticks; ++t) {
            const int before = int(lines("MemoZEZ2011_Info").size());
            timer()->fire();
            if (lines("MemoZEZ2011_Info").size() > before) {
                EXPECT_EQ(lines("MemoZEZ2011_Info").last(), "collection..");
                collected.push_back(t);
            }
            if (t <= c.labels.size()) {
                EXPECT_EQ(text("LabelZEZ2011TimerCount"), c.labels[t - 1]) << "tick " << t;
            }
            // Blinks: red, then black, then red ...
            const QColor now = fontColor("BitBtnTimerZEZ2011");
            EXPECT_EQ(now, previous == colors::red() ? colors::black() : colors::red()) << "tick " << t;
            previous = now;
        }
        EXPECT_EQ(collected, c.collectAt);
        click("BitBtnTimerZEZ2011");
        EXPECT_FALSE(timer()->enabled());
        EXPECT_EQ(lines("MemoZEZ2011_Info").last(), "process stop");
        EXPECT_EQ(fontColor("BitBtnTimerZEZ2011"), colors::black());
        EXPECT_EQ(this->c<QWidget>("BitBtnTimerZEZ2011")->property("text").toString(), "TIMER");
        EXPECT_EQ(text("LabelZEZ2011TimerCount"), "");
    }
}

TEST_F(SawMonitorPageTest, APeriodThatIsNoIntegerLeavesTheTimerStopped) {
    c<QComboBox>("ComboBoxTomerZEZ2011Period")->setEditText("2 min");
    click("BitBtnTimerZEZ2011");
    EXPECT_EQ(errors, QStringList{"''2 min'' is not a valid integer value"});
    EXPECT_FALSE(timer()->enabled());
    EXPECT_TRUE(lines("MemoZEZ2011_Info").isEmpty());
}

TEST_F(SawMonitorPageTest, TheTimerSendsTheCollectionCommand) {
    sim::Options o;
    o.identifier = "VKR433-SAW";
    connectedTo(o);
    c<QComboBox>("ComboBoxTomerZEZ2011Period")->setEditText("2");
    click("BitBtnTimerZEZ2011");
    for (int t = 0; t < 4; ++t)
        timer()->fire();
    ASSERT_TRUE(waitForSent(2));
    EXPECT_EQ(sent(), (std::vector<std::string>{"SEND_COP_COLLECTION 16 48 11 3000",
                                                "SEND_COP_COLLECTION 16 48 11 3000"}));
    click("BitBtnTimerZEZ2011");
}

TEST_F(SawMonitorPageTest, FileSavesTheDataLines) {
    QTemporaryDir dir;
    savePath = dir.filePath("saw.txt");
    click("BitBtnZEZ2011_File");
    QFile empty(savePath + "-ZEZ2011.txt");
    ASSERT_TRUE(empty.open(QIODevice::ReadOnly));
    EXPECT_EQ(empty.readAll(), QByteArray());

    answer(Uid("EEEE-FEDCBAF2", "1A", "32", "0064", "0032"));
    answer(Uid("EEEE-FEDCBAF2", "1B", "33", "0064", "0064"));
    click("BitBtnZEZ2011_File");
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(dialogs.last(), "SaveDialogZEZ2011|" + FixedTimeText().replace(':', '_'));
    QFile f(savePath + "-ZEZ2011.txt");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), (lines("MemoSAW_DATA").join("\r\n") + "\r\n").toUtf8());
    EXPECT_EQ(lines("MemoSAW_DATA").size(), 2);
}

} // namespace
} // namespace rd::testing
