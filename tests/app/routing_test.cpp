// Answer polling and routing, command sending and the inventory run control, against a
// simulated 900 MHz reader on COM1. TimerMAIN and TimerSTOP are fired by hand.
#include "sim_window.h"

#include "kit/conv.h"
#include "link/frames.h"
#include "link/reader_connection.h"

#include <QDateTime>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <thread>

namespace rd::testing {
namespace {

class Connected : public SimWindowTest {
  protected:
    sim::ReaderSim& connect(sim::Options o = {}) {
        sim::ReaderSim& r = addReader("VKR900-15", 1, o);
        scan();
        EXPECT_TRUE(window().connected());
        base_ = r.requestCount();
        return r;
    }
    // The command texts the reader received since the scan.
    std::vector<std::string> sentSinceScan(sim::ReaderSim& r) const {
        auto all = r.commands();
        return {all.begin() + std::ptrdiff_t(std::min(base_, all.size())), all.end()};
    }
    int rxdCount() { return memo("MemoZEZ2011")->count(); }
    std::size_t base_ = 0;
};

TEST_F(Connected, AnswerGoesToTerminalZezAndTheHandlers) {
    sim::ReaderSim& r = connect();
    control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText("GET_ADC ");
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_TRUE(routeUntil([&] { return has(memo("MemoUTIL_REC"), ":00000002 OK;"); }));
    EXPECT_EQ(sentSinceScan(r), std::vector<std::string>{"GET_ADC "});
    EXPECT_EQ(memo("MemoUTIL_SEND")->lines()->lines(), QStringList{"01:00000002 GET_ADC ;"});
    const QStringList term = memo("MemoTERMINAL")->lines()->lines();
    ASSERT_GE(term.size(), 2);
    EXPECT_EQ(term[term.size() - 2], ">> 01 3A 30 30 30 30 30 30 30 32 20 47 45 54 5F 41 44 43 20 3B");
    EXPECT_EQ(term.last(), "<< 00 3A 30 30 30 30 30 30 30 32 20 4F 4B 3B");
    EXPECT_EQ(memo("MemoZEZ2011")->lines()->lines(), QStringList({"MemoZEZ2011", "RXD::00000002 OK;"}));
}

struct RawCase {
    const char* name;
    std::string bytes; // what the reader writes
    QString answer;    // the answer text the window takes from it
};

class RawAnswers : public Connected, public ::testing::WithParamInterface<RawCase> {};

TEST_P(RawAnswers, ShownAndRoutedByteForByte) {
    sim::ReaderSim& r = connect();
    const RawCase& c = GetParam();
    r.sendRaw(c.bytes);
    ASSERT_TRUE(routeUntil([&] { return rxdCount() == 2; }));
    EXPECT_EQ(memo("MemoZEZ2011")->line(1), "RXD:" + c.answer);
    EXPECT_EQ(memo("MemoUTIL_REC")->lines()->lines().last(), c.answer);
    const QByteArray bytes = NarrowText(c.answer);
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().last().toStdString(),
              AnswerTerminalLine(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size())));
}

QString latin1(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawAnswers,
    ::testing::Values(
        // Bytes above 0x7F are the characters U+0080 to U+00FF.
        RawCase{"HighBytes", std::string("\r\n:00000009 T\xC0\xFF\x80;\r\n"),
                QString(":00000009 T") + QChar(0xC0) + QChar(0xFF) + QChar(0x80) + ";"},
        // The longest answer is shown and routed whole.
        RawCase{"MaxLength", ":" + std::string(1022, 'A') + ";", latin1(":" + std::string(1022, 'A') + ";")},
        // Without ";" it is cut after its 1024th byte.
        RawCase{"Cut", ":" + std::string(1100, 'B'), latin1(":" + std::string(1023, 'B'))}),
    [](const ::testing::TestParamInfo<RawCase>& i) { return std::string(i.param.name); });

TEST_F(Connected, BurstOfAnswersArrivesInOrderExactlyOnce) {
    sim::ReaderSim& r = connect();
    const int n = 300;
    std::string burst;
    for (int i = 0; i < n; ++i)
        burst += ":" + IntToStr8(i) + " N;\r\n";
    r.sendRaw(burst);
    ASSERT_TRUE(routeUntil([&] { return rxdCount() >= n + 1; }, 10000));
    // A few more ticks: nothing further may come.
    for (int i = 0; i < 5; ++i)
        window().TimerMAIN->fire();
    QStringList expected{"MemoZEZ2011"};
    for (int i = 0; i < n; ++i)
        expected << QString("RXD::%1 N;").arg(QString::fromStdString(IntToStr8(i)));
    EXPECT_EQ(memo("MemoZEZ2011")->lines()->lines(), expected);
    EXPECT_EQ(window().answersRouted(), uint64_t(n));
}

TEST_F(Connected, AddressErrorShowsItsTextAndSendsNothing) {
    sim::ReaderSim& r = connect();
    for (const char* bad : {"0A", "", "1 2"}) {
        control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText(bad);
        click("BitBtnUTIL_SEND_COMMAND");
        EXPECT_EQ(errors.last(), QString("''%1'' is not a valid integer value").arg(bad));
    }
    EXPECT_EQ(errors.size(), 3);
    EXPECT_EQ(memo("MemoUTIL_SEND")->count(), 0);
    // The next good command is the next request the reader sees, with the next counter.
    control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText("$0B");
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_TRUE(r.waitForRequests(base_ + 1, 2000));
    const auto last = r.requests().back();
    EXPECT_EQ(std::string(last.begin(), last.end()), "\x0B:00000002 VERSION;");
    EXPECT_EQ(r.requestCount(), base_ + 1);
}

TEST_F(Connected, ChosenPresetIsSentExactlyAsListed) {
    sim::ReaderSim& r = connect();
    auto* console = control<QComboBox>("ComboBoxUTIL_COMMAND");
    // An empty separator sends an empty command; blanks inside and at the end go out as listed.
    const std::pair<int, std::string> picks[] = {
        {1, ""}, {11, "SEND_COP_READ_MEMORY  EEEE FEDCBA01  10  0"}, {28, "GET_ADC "}};
    for (const auto& [index, text] : picks) {
        const std::size_t seen = r.requestCount();
        const int32_t counter = window().connection()->commandCounter() + 1;
        console->setCurrentIndex(index);
        click("BitBtnUTIL_SEND_COMMAND");
        ASSERT_TRUE(r.waitForRequests(seen + 1, 2000)) << index;
        const auto last = r.requests().back();
        EXPECT_EQ(std::string(last.begin(), last.end()), "\x01:" + IntToStr8(counter) + " " + text + ";")
            << index;
    }
}

TEST_F(Connected, TooLongCommandIsAnErrorAndNothingIsSent) {
    sim::ReaderSim& r = connect();
    control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText(QString(2000, 'X'));
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0].toStdString(), CommandTooLong(2000, MaxCommandLength(2)).what());
    EXPECT_EQ(memo("MemoUTIL_SEND")->count(), 0);
    control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText("POWER_ON");
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_TRUE(r.waitForRequests(base_ + 1, 2000));
    EXPECT_EQ(sentSinceScan(r), std::vector<std::string>{"POWER_ON"});
}

TEST_F(Connected, StopAcknowledgedBeforeTheFirstTick) {
    sim::ReaderSim& r = connect();
    window().StartInventoryRun();
    window().StopInventoryRun();
    EXPECT_EQ(window().StopPending(), 1);
    EXPECT_TRUE(window().TimerSTOP->enabled());
    ASSERT_TRUE(routeUntil([&] { return window().StopPending() == 0; }));
    control<QWidget>("BitBtn_ANT_TEST_START")->setEnabled(false);
    window().TimerSTOP->fire();
    EXPECT_FALSE(window().TimerSTOP->enabled());
    EXPECT_TRUE(control<QWidget>("BitBtn_ANT_TEST_START")->isEnabled());
    EXPECT_EQ(sentSinceScan(r), std::vector<std::string>({"KELM_EPC_INVENTORY_TIME 20 5 15", "EPC_STOP"}));
}

TEST_F(Connected, StopAcknowledgedBetweenTheThirdAndFourthTick) {
    sim::Options o;
    o.stopConfirmAfter = 4; // the first three stops are lost
    sim::ReaderSim& r = connect(o);
    control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText("07");
    window().StopInventoryRun();
    for (int tick = 1; tick <= 3; ++tick) {
        ASSERT_EQ(window().StopPending(), 1) << "tick " << tick;
        window().TimerSTOP->fire();
    }
    ASSERT_TRUE(routeUntil([&] { return window().StopPending() == 0; }));
    window().TimerSTOP->fire();
    EXPECT_FALSE(window().TimerSTOP->enabled());
    EXPECT_EQ(sentSinceScan(r), std::vector<std::string>(4, "EPC_STOP"));
    // Every retry went to the address in the box.
    const auto reqs = r.requests();
    for (std::size_t i = base_; i < reqs.size(); ++i)
        EXPECT_EQ(reqs[i][0], 7);
}

TEST_F(Connected, StartDuringAPendingStopEndsTheRetries) {
    sim::Options o;
    o.confirmStop = false;
    sim::ReaderSim& r = connect(o);
    auto* q = control<QComboBox>("ComboBoxEPC_INVENTORY_TIME_Q");
    auto* c = control<QComboBox>("ComboBoxEPC_INVENTORY_TIME_C");
    auto* n = control<QComboBox>("ComboBoxEPC_INVENTORY_TIME_CNTR");
    q->setEditText("7");
    c->setEditText("3");
    n->setEditText("100");
    window().StopInventoryRun();
    window().TimerSTOP->fire();
    window().StartInventoryRun();
    EXPECT_EQ(window().StopPending(), 0);
    EXPECT_FALSE(window().TimerSTOP->enabled());
    ASSERT_TRUE(r.waitForRequests(base_ + 3, 2000));
    EXPECT_EQ(sentSinceScan(r),
              std::vector<std::string>({"EPC_STOP", "EPC_STOP", "KELM_EPC_INVENTORY_TIME 7 3 100"}));
}

TEST_F(Connected, AcknowledgementOnlyAsWordTwoAndOnlyWhilePending) {
    sim::Options o;
    o.confirmStop = false;
    sim::ReaderSim& r = connect(o);
    window().StopInventoryRun();
    for (const char* notAnAck : {"OK STOP_INVENTORY", "stop_inventory", "STOP_INVENTORYX"}) {
        const int before = rxdCount();
        r.sendAnswer(notAnAck);
        ASSERT_TRUE(routeUntil([&] { return rxdCount() > before; }));
        EXPECT_EQ(window().StopPending(), 1) << notAnAck;
    }
    r.sendAnswer("STOP_INVENTORY");
    EXPECT_TRUE(routeUntil([&] { return window().StopPending() == 0; }));
    // Not pending: a further acknowledgement changes nothing and the timer still
    // switches itself off at its next tick.
    const int before = rxdCount();
    r.sendAnswer("STOP_INVENTORY");
    ASSERT_TRUE(routeUntil([&] { return rxdCount() > before; }));
    EXPECT_EQ(window().StopPending(), 0);
    window().TimerSTOP->fire();
    EXPECT_FALSE(window().TimerSTOP->enabled());
}

TEST_F(Connected, WhileAStopIsPendingAnswersSkipTheUtilMemoOnly) {
    sim::Options o;
    o.confirmStop = false;
    sim::ReaderSim& r = connect(o);
    auto routeOne = [&](const char* keyword) {
        const int before = rxdCount();
        r.sendAnswer(keyword);
        return routeUntil([&] { return rxdCount() > before; });
    };
    auto inUtil = [&](const char* keyword) {
        for (const QString& l : memo("MemoUTIL_REC")->lines()->lines())
            if (l.endsWith(QString(" %1;").arg(keyword)))
                return true;
        return false;
    };
    auto inTerminalAndZez = [&](const char* keyword) {
        const QString line = memo("MemoZEZ2011")->lines()->lines().last();
        const QByteArray bytes = NarrowText(line.mid(4));
        return line.endsWith(QString(" %1;").arg(keyword)) &&
               memo("MemoTERMINAL")->lines()->lines().last().toStdString() ==
                   AnswerTerminalLine(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    };
    ASSERT_TRUE(routeOne("BEFORE"));
    EXPECT_TRUE(inUtil("BEFORE"));

    window().StopInventoryRun();
    ASSERT_TRUE(routeOne("DURING"));
    EXPECT_TRUE(inTerminalAndZez("DURING"));
    EXPECT_FALSE(inUtil("DURING"));
    // The confirming answer itself still belongs to the ending run.
    ASSERT_TRUE(routeOne("STOP_INVENTORY"));
    EXPECT_EQ(window().StopPending(), 0);
    EXPECT_TRUE(inTerminalAndZez("STOP_INVENTORY"));
    EXPECT_FALSE(inUtil("STOP_INVENTORY"));

    ASSERT_TRUE(routeOne("AFTER"));
    EXPECT_TRUE(inUtil("AFTER"));
}

TEST_F(Connected, FailingRetryShowsOneErrorAtATime) {
    sim::ReaderSim& r = connect();
    window().StopInventoryRun();
    control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText("zz");
    // The error box runs its own event loop, in which TimerSTOP keeps ticking.
    int shown = 0;
    int depth = 0;
    int deepest = 0;
    SetErrorSink([&](const QString&) {
        ++shown;
        deepest = std::max(deepest, ++depth);
        if (depth == 1)
            QTest::qWait(350);
        --depth;
    });
    window().TimerSTOP->fire();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(deepest, 1);
    // Closed: the failed retry has ended the retries, so no further box follows.
    SetErrorSink([&](const QString&) { ++shown; });
    window().TimerSTOP->fire();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(window().StopPending(), 0);
    EXPECT_FALSE(window().TimerSTOP->enabled());
    EXPECT_EQ(sentSinceScan(r), std::vector<std::string>{"EPC_STOP"});
}

TEST_F(Connected, AddressErrorLeavesWhatTheStepsBeforeTheSendDid) {
    sim::Options o;
    o.confirmStop = false;
    sim::ReaderSim& r = connect(o);
    auto* addr = control<QComboBox>("ComboBoxUTIL_ADDR");
    // A stop whose send fails sets neither the flag nor the timer.
    addr->setEditText("zz");
    EXPECT_THROW(window().StopInventoryRun(), AppError);
    EXPECT_EQ(window().StopPending(), 0);
    EXPECT_FALSE(window().TimerSTOP->enabled());
    // A start whose send fails has already switched the retries off and cleared the flag.
    addr->setEditText("01");
    window().StopInventoryRun();
    addr->setEditText("zz");
    EXPECT_THROW(window().StartInventoryRun(), AppError);
    EXPECT_EQ(window().StopPending(), 0);
    EXPECT_FALSE(window().TimerSTOP->enabled());
    ASSERT_TRUE(r.waitForRequests(base_ + 1, 2000));
    EXPECT_EQ(sentSinceScan(r), std::vector<std::string>{"EPC_STOP"});
}

TEST_F(Connected, NotConnectedStopStillPendsAndLaterReachesTheReader) {
    // Before any scan the stop sends nothing but enters the pending state; after a scan
    // the retries reach the new reader and end at its acknowledgement.
    window().StopInventoryRun();
    EXPECT_EQ(window().StopPending(), 1);
    window().TimerSTOP->fire();
    EXPECT_EQ(memo("MemoUTIL_SEND")->count(), 0);
    sim::ReaderSim& r = connect();
    window().TimerSTOP->fire();
    ASSERT_TRUE(routeUntil([&] { return window().StopPending() == 0; }));
    EXPECT_EQ(sentSinceScan(r), std::vector<std::string>{"EPC_STOP"});
}

TEST_F(Connected, ClockLabelShowsTheTimeAtEveryTick) {
    connect();
    auto* clock = control<QLabel>("Label_ANT_TEST_TIME");
    // Within a second, into the next one, and a clock set back.
    const QTime ticks[] = {QTime(9, 5, 7), QTime(9, 5, 7, 900), QTime(9, 5, 8, 100), QTime(9, 5, 6, 500)};
    for (const QTime& at : ticks) {
        const QDateTime t(QDate(2013, 3, 1), at);
        SetClockForTesting([&] { return t; });
        window().TimerMAIN->fire();
        SetClockForTesting({});
        EXPECT_EQ(clock->text(), TimeText(QTime(at.hour(), at.minute(), at.second())))
            << at.toString().toStdString();
    }
    EXPECT_TRUE(clock->text().contains("05:06")) << clock->text().toStdString();
}

TEST_F(Connected, DroppedBytesAreShownToTheUser) {
    sim::ReaderSim& r = connect();
    // Nobody takes answers while the reader floods: the receiver's ring overflows.
    r.startFlood();
    ASSERT_TRUE(r.waitForAnswersSent(30000, 20000));
    r.stopFlood();
    window().TimerMAIN->fire();
    const QString last = memo("MemoTERMINAL")->lines()->lines().last();
    EXPECT_TRUE(last.startsWith("!! COM1: ") && last.endsWith(" bytes lost, receive buffer full"))
        << last.toStdString();
    EXPECT_TRUE(control<QLabel>("LabelCOM_PORT_STATUS")->toolTip().contains("bytes lost"));
}

TEST_F(Connected, DroppedBytesNoticedOnceASecondWithTheTotalAndWhatItAdded) {
    sim::ReaderSim& r = connect();
    const ReaderConnection& link = *window().connection();
    qint64 nowMs = QDateTime(QDate(2024, 5, 1), QTime(12, 0)).toMSecsSinceEpoch();
    SetClockForTesting([&] { return QDateTime::fromMSecsSinceEpoch(nowMs); });
    struct ClockBack {
        ~ClockBack() { SetClockForTesting({}); }
    } clockBack;
    const QRegularExpression notice(QStringLiteral(
        "^!! COM1: (\\d+) bytes lost, receive buffer full(?: \\((\\d+) since the last notice\\))?$"));
    auto notices = [&] {
        QStringList found;
        for (const QString& line : memo("MemoTERMINAL")->lines()->lines())
            if (line.contains(QStringLiteral("bytes lost")))
                found << line;
        return found;
    };
    // A tick after the ring has overflowed again, with the clock moved on by stepMs.
    auto tickAfterMoreLost = [&](qint64 stepMs) {
        const uint64_t before = link.droppedBytes();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (link.droppedBytes() == before) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "the ring never overflowed again";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        nowMs += stepMs;
        window().TimerMAIN->fire();
    };

    // The ring overflows before every tick of one second: one line, with the total.
    r.startFlood();
    for (int i = 0; i < 5; ++i)
        tickAfterMoreLost(i == 0 ? 0 : 150);
    QStringList lines = notices();
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    const auto first = notice.match(lines[0]);
    ASSERT_TRUE(first.hasMatch()) << lines[0].toStdString();
    EXPECT_FALSE(first.hasCaptured(2));
    const uint64_t firstTotal = first.captured(1).toULongLong();
    // The status hint keeps the total of every tick.
    const QRegularExpression hint(QStringLiteral("(\\d+) bytes lost"));
    const uint64_t hinted =
        hint.match(control<QLabel>("LabelCOM_PORT_STATUS")->toolTip()).captured(1).toULongLong();
    EXPECT_GT(hinted, firstTotal);

    // A second on: the next line, with the new total and what came since the first.
    tickAfterMoreLost(400);
    r.stopFlood();
    lines = notices();
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    const auto second = notice.match(lines[1]);
    ASSERT_TRUE(second.hasMatch()) << lines[1].toStdString();
    const uint64_t secondTotal = second.captured(1).toULongLong();
    EXPECT_GT(secondTotal, hinted);
    EXPECT_EQ(second.captured(2).toULongLong(), secondTotal - firstTotal);
}

} // namespace
} // namespace rd::testing
