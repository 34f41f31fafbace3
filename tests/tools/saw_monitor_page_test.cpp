// The sensor-tag monitor on the real window: the answer handler's keyword tests and
// decoding, the read buttons' colours, the periodic collection and the data file; the
// trend chart, the CSV file and the reads after a collection.
#include "window_fixture.h"

#include "kit/form_timer.h"
#include "tools/saw_monitor.h"
#include "tools/saw_trends.h"

#include <QChartView>
#include <QCheckBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QSet>
#include <QTemporaryDir>
#include <QTextLayout>

#include <cstdlib>
#include <map>
#include <vector>

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
    QLineSeries* series(const QString& name) {
        for (QAbstractSeries* s : c<QChartView>("ChartZEZ2011")->chart()->series()) {
            if (s->name() == name)
                return qobject_cast<QLineSeries*>(s);
        }
        ADD_FAILURE() << "no series " << name.toStdString();
        return nullptr;
    }
    FormTimer* readTimer() { return c<FormTimer>("TimerZEZ2011_READ_AFTER"); }
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
         QStringLiteral("ID:EEEE-FEDCBAF2  T:26   H:50  cf=\u00A0430050kHz  mf=\u00A0430100kHz"),
         {time + " T:26 H:50  cf= 430050  mf= 430100 df= 50"}},
        {Uid("EEEE-FEDCBAF2", "00", "FF", "0032", "0064"),
         {"cf= 430100kHz  mf= 430050kHz     df= -50kHz ", "ID:EEEE-FEDCBAF2  T:0   H:255"},
         "LabelZEZ2011_2",
         QStringLiteral("ID:EEEE-FEDCBAF2  T:0   H:255  cf=\u00A0430100kHz  mf=\u00A0430050kHz"),
         {time + " T:0 H:255  cf= 430100  mf= 430050 df= -50"}},
        {Uid("EEEE-FEDCBAF2", "00", "00", "0032", "0032"),
         {"cf= 430050kHz  mf= 430050kHz     df= 0kHz ", "ID:EEEE-FEDCBAF2  T:0   H:0"},
         "LabelZEZ2011_2",
         QStringLiteral("ID:EEEE-FEDCBAF2  T:0   H:0  cf=\u00A0430050kHz  mf=\u00A0430050kHz"),
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

// The chart shows T and H of each tag and df of the third over time, one point per
// decoded reading; answers that decode nothing add none.
TEST_F(SawMonitorPageTest, TheChartFollowsTheDecodedReadings) {
    const QDateTime start(QDate(2024, 5, 6), QTime(12, 0, 0));
    int second = 0;
    SetClockForTesting([&] { return start.addSecs(second); });
    using Points = std::vector<std::pair<int, double>>; // (second, value)
    std::map<QString, Points> expected = {{"T F0", {}}, {"H F0", {}}, {"T F1", {}}, {"H F1", {}},
                                          {"T F2", {}}, {"H F2", {}}, {"df F2", {}}};
    struct Case {
        QString answer;
        std::map<QString, double> added; // series -> value of the point this answer adds
    };
    const Case cases[] = {
        {Uid("EEEE-FEDCBAF0", "1A", "2D"), {{"T F0", 26}, {"H F0", 45}}},
        {":00000005 NO_ACK;", {}},
        {Uid("EEEE-FEDCBAF2", "10", "20", "0064", "0032"), {{"T F2", 16}, {"H F2", 32}, {"df F2", 50}}},
        {":00000005 UID EEEE-FEDCBAF2-00000000325000000064;", {}}, // too short
        {Uid("EEEE-FEDCBAF7", "1A", "2D"), {}},
        {":00000005 collection_stop;", {}},
        {Uid("EEEE-FEDCBAF1", "05", "06"), {{"T F1", 5}, {"H F1", 6}}},
        {Uid("EEEE-FEDCBAF2", "11", "21", "0032", "0064"), {{"T F2", 17}, {"H F2", 33}, {"df F2", -50}}},
        {Uid("EEEE-FEDCBAF0", "1b", "2e"), {{"T F0", 27}, {"H F0", 46}}},
    };
    std::size_t readings = 0;
    for (const Case& k : cases) {
        answer(k.answer);
        for (const auto& [name, value] : k.added)
            expected[name].emplace_back(second, value);
        readings += k.added.empty() ? 0 : 1;
        ++second;
    }
    auto shown = [&] {
        std::map<QString, Points> got;
        for (const auto& [name, points] : expected) {
            got[name];
            for (const QPointF& p : series(name)->points())
                got[name].emplace_back(int((qint64(p.x()) - start.toMSecsSinceEpoch()) / 1000), p.y());
        }
        return got;
    };
    // The chart is redrawn a moment after the answers.
    (void)QTest::qWaitFor([&] { return shown() == expected; }, 3000);
    EXPECT_EQ(shown(), expected);
    EXPECT_EQ(page().findChild<SawTrends*>()->readings().size(), readings);
}

// The time axis never shows one second twice, whatever the readings' span: a single one,
// some within a second, a few seconds, a minute, an hour.
TEST_F(SawMonitorPageTest, TheTimeAxisLabelsAreAllDifferent) {
    const QDateTime start(QDate(2024, 5, 6), QTime(13, 34, 36, 700));
    auto* axis =
        qobject_cast<QDateTimeAxis*>(c<QChartView>("ChartZEZ2011")->chart()->axes(Qt::Horizontal).value(0));
    ASSERT_TRUE(axis);
    const struct {
        const char* what;
        std::vector<int> at; // ms after start
    } spans[] = {
        {"one reading", {0}}, {"300 ms", {0, 300}},     {"2.5 s", {0, 1200, 2500}},
        {"3.9 s", {0, 3900}}, {"a minute", {0, 60000}}, {"an hour", {0, 1800000, 3600000}},
    };
    for (const auto& sp : spans) {
        SCOPED_TRACE(sp.what);
        window.reset();
        for (int ms : sp.at) {
            SetClockForTesting([start, ms] { return start.addMSecs(ms); });
            answer(Uid("EEEE-FEDCBAF0", "1A", "2D"));
        }
        axis = qobject_cast<QDateTimeAxis*>(
            c<QChartView>("ChartZEZ2011")->chart()->axes(Qt::Horizontal).value(0));
        const qint64 last = start.addMSecs(sp.at.back()).toMSecsSinceEpoch();
        ASSERT_TRUE(QTest::qWaitFor([&] { return axis->max().toMSecsSinceEpoch() >= last; }, 3000));
        // The labels as the axis draws them: its ticks spread evenly over its range.
        const int ticks = axis->tickCount();
        ASSERT_GE(ticks, 2);
        const qint64 lo = axis->min().toMSecsSinceEpoch();
        const double step = double(axis->max().toMSecsSinceEpoch() - lo) / (ticks - 1);
        QStringList labels;
        for (int i = 0; i < ticks; ++i)
            labels << QDateTime::fromMSecsSinceEpoch(lo + qint64(i * step)).toString(axis->format());
        EXPECT_EQ(QSet<QString>(labels.begin(), labels.end()).size(), labels.size())
            << labels.join(", ").toStdString();
        EXPECT_LE(lo, start.toMSecsSinceEpoch());
    }
}

// "cf=" and "mf=" stay with their values at every width the wrapping label may have.
TEST_F(SawMonitorPageTest, AWrappedReadingKeepsEachNameWithItsValue) {
    answer(Uid("EEEE-FEDCBAF2", "1a", "32", "0064", "0032"));
    const QLabel* label = c<QLabel>("LabelZEZ2011_2");
    const QString text = label->text();
    ASSERT_TRUE(text.contains("mf=")) << text.toStdString();
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WordWrap);
    for (int width = 40; width <= 900; width += 2) {
        QTextLayout layout(text, label->font());
        layout.setTextOption(wrap);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            const QString piece = text.mid(line.textStart(), line.textLength()).trimmed();
            EXPECT_FALSE(piece.endsWith('=')) << width << " px: " << piece.toStdString();
        }
        layout.endLayout();
    }
}

// Every reading kept, up to the last SawTrends::kKeptReadings; the CSV file holds them
// with their date and time, the chosen base name + "-ZEZ2011.csv".
TEST_F(SawMonitorPageTest, CsvSavesTheReadings) {
    QTemporaryDir dir;
    answer(Uid("EEEE-FEDCBAF0", "1A", "2D"));
    answer(":00000005 NO_ACK;");
    answer(Uid("EEEE-FEDCBAF2", "10", "20", "0032", "0064"));
    answer(Uid("EEEE-FEDCBAF1", "05", "06"));
    // The window clock's time with the local offset ("+01:00").
    const int offset = QDateTime(QDate(2024, 5, 6), FixedTime()).offsetFromUtc();
    const QByteArray stamp =
        "2024-05-06T12:34:56.000" + QStringLiteral("%1%2:%3")
                                        .arg(offset < 0 ? '-' : '+')
                                        .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                                        .arg(std::abs(offset) / 60 % 60, 2, 10, QLatin1Char('0'))
                                        .toLatin1();
    const QByteArray file = "Time,Tag,T,H,cf,mf,df\r\n" + stamp + ",EEEE-FEDCBAF0,26,45,,,\r\n" + stamp +
                            ",EEEE-FEDCBAF2,16,32,430100,430050,-50\r\n" + stamp +
                            ",EEEE-FEDCBAF1,5,6,,,\r\n";
    struct Case {
        QString base; // what the dialog returns ("" = cancelled)
        QString written;
        QByteArray content;
        QString error; // the start of the error shown
    };
    const Case cases[] = {
        {dir.filePath("trend"), dir.filePath("trend-ZEZ2011.csv"), file, {}},
        {{}, {}, {}, {}},
        {dir.filePath("missing/trend"),
         {},
         {},
         "Cannot create file \"" + dir.filePath("missing/trend-ZEZ2011.csv")},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.base.toStdString());
        errors.clear();
        dialogs.clear();
        savePath = k.base;
        click("BitBtnZEZ2011_CSV");
        EXPECT_EQ(dialogs, QStringList{"SaveDialogZEZ2011_CSV|" + FixedTimeText().replace(':', '_')});
        if (k.error.isEmpty()) {
            EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        } else {
            ASSERT_EQ(errors.size(), 1);
            EXPECT_TRUE(errors[0].startsWith(k.error)) << errors[0].toStdString();
        }
        if (!k.written.isEmpty()) {
            QFile f(k.written);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll().toStdString(), k.content.toStdString());
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"trend-ZEZ2011.csv"});

    // A long run keeps the last readings only, in the file and in the chart.
    for (int i = 0; i < SawTrends::kKeptReadings; ++i)
        answer(Uid("EEEE-FEDCBAF0", QStringLiteral("%1").arg(i % 256, 2, 16, QLatin1Char('0')), "2D"));
    savePath = dir.filePath("long");
    click("BitBtnZEZ2011_CSV");
    QFile f(dir.filePath("long-ZEZ2011.csv"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), SawTrends::kKeptReadings + 2); // header, readings, nothing after the last
    EXPECT_EQ(lines[1].toStdString(), (stamp + ",EEEE-FEDCBAF0,0,45,,,\r").toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return series("T F0")->count() == SawTrends::kKeptReadings; }, 3000))
        << series("T F0")->count();
    EXPECT_EQ(series("T F2")->count(), 0);
    EXPECT_EQ(series("T F0")->at(0).y(), 0);
    EXPECT_EQ(series("T F0")->at(SawTrends::kKeptReadings - 1).y(), (SawTrends::kKeptReadings - 1) % 256);
}

// The reads after a collection, one at a time: the next goes out after the previous one's
// answer or, when none comes, after the wait for it; three at most; switched off at once.
TEST_F(SawMonitorPageTest, ReadsAfterACollectionGoOneAtATime) {
    sim::Options o;
    o.identifier = "VKR433-SAW";
    connectedTo(o);
    const std::string reads[3] = {"SEND_COP_READ_USER_ID EEEE FEDCBAF0 ",
                                  "SEND_COP_READ_USER_ID EEEE FEDCBAF1 ",
                                  "SEND_COP_READ_USER_ID EEEE FEDCBAF2 "};
    auto* box = c<QCheckBox>("CheckBoxZEZ2011_READ_AFTER");
    EXPECT_FALSE(box->isChecked());
    answer(":00000001 collection_stop;");
    EXPECT_FALSE(readTimer()->enabled());

    // The answers stay unread here (no event loop runs): each tick after a read is its
    // wait running out. A collection ending meanwhile starts no second round.
    box->setChecked(true);
    answer(":00000001 collection_stop;");
    EXPECT_TRUE(readTimer()->enabled());
    EXPECT_EQ(readTimer()->interval(), SawTrends::kReadGapMs);
    readTimer()->fire();
    EXPECT_EQ(readTimer()->interval(), SawTrends::kReadTimeoutMs);
    EXPECT_EQ(fontColor(kRead[0]), colors::green());
    readTimer()->fire();
    answer(":00000001 collection_stop;");
    answer(":00000001 NO_ACK;"); // the second tag's answer: the third follows after the gap
    EXPECT_EQ(readTimer()->interval(), SawTrends::kReadGapMs);
    readTimer()->fire();
    readTimer()->fire(); // no answer from the third: the round ends
    EXPECT_FALSE(readTimer()->enabled());
    readTimer()->fire();
    ASSERT_TRUE(waitForSent(3));
    EXPECT_EQ(sent(), (std::vector<std::string>{reads[0], reads[1], reads[2]}));

    // Switching off ends a round at once.
    answer(":00000001 collection_stop;");
    readTimer()->fire();
    box->setChecked(false);
    EXPECT_FALSE(readTimer()->enabled());
    readTimer()->fire();
    ASSERT_TRUE(waitForSent(4));
    QTest::qWait(100);
    EXPECT_EQ(sent().size(), 4u);
}

} // namespace
} // namespace rd::testing
