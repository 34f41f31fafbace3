// The sensor-tag monitor's decisions without a window: what each answer asks of the page,
// the readings on a clock the test sets, the reads after a collection step by step, and
// the periodic collection's count, wrap-around included.
#include "tools/saw_monitor_model.h"

#include "kit/conv.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace rd {
namespace {

// A "UID" answer whose record carries T, H, mf and cf at their positions.
QString Uid(const QString& id, const QString& t, const QString& h, const QString& mf = "0000",
            const QString& cf = "0000") {
    return QStringLiteral(":00000005 UID ") + id + "-00000000" + t + h + "0000" + mf + cf + "00;";
}
const QString kStop = QStringLiteral(":00000001 collection_stop;");
const QString kNoAck = QStringLiteral(":00000005 NO_ACK;");

// A model on a clock the test moves.
struct Clocked {
    QDateTime now{QDate(2024, 5, 6), QTime(12, 34, 56)};
    SawMonitorModel model{[this] { return now; }};
};

TEST(SawMonitorModel, WhatEachAnswerAsksOfThePage) {
    struct Case {
        QString answer;
        bool clearInfo;
        QStringList info;
        int collection; // the collection button: -1 unchanged, 0 off, 1 on
        int labelTag;
        bool data;    // a data line
        bool reading; // a reading kept
        bool readAnswered;
    };
    const Case cases[] = {
        {":00000001 collection_start..;", true, {"collection start ", "wait.. "}, 0, -1, false, false, false},
        {kStop, false, {"collection stop "}, 1, -1, false, false, false},
        {Uid("EEEE-FEDCBAF0", "1A", "2D"),
         false,
         {"ID:EEEE-FEDCBAF0  T:26   H:45"},
         -1,
         0,
         false,
         true,
         true},
        {Uid("EEEE-FEDCBAF1", "05", "06"), false, {"ID:EEEE-FEDCBAF1  T:5   H:6"}, -1, 1, false, true, true},
        {Uid("EEEE-FEDCBAF2", "1a", "32", "0064", "0032"),
         false,
         {"cf= 430050kHz  mf= 430100kHz     df= 50kHz ", "ID:EEEE-FEDCBAF2  T:26   H:50"},
         -1,
         2,
         true,
         true,
         true},
        // A short record names the tag and the length; it shows and keeps nothing else.
        {":00000005 UID EEEE-FEDCBAF2-00000000325000000064;",
         false,
         {"ID:EEEE-FEDCBAF2  short record: 34 characters, 38 needed"},
         -1,
         -1,
         false,
         false,
         true},
        // A foreign tag, a record shorter than an identifier, no record: an answer all the same.
        {Uid("EEEE-FEDCBAF7", "1A", "2D"), false, {}, -1, -1, false, false, true},
        {":00000005 UID;", false, {}, -1, -1, false, false, true},
        {kNoAck, false, {}, -1, -1, false, false, true},
        // Not these words: nothing.
        {":00000001 OK;", false, {}, -1, -1, false, false, false},
        {":00000001 uid x;", false, {}, -1, -1, false, false, false},
        {":00000001 X UID;", false, {}, -1, -1, false, false, false},
        {"NO_ACK", false, {}, -1, -1, false, false, false},
        {":1 collection_start;", false, {}, -1, -1, false, false, false},
        {QString(), false, {}, -1, -1, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        Clocked m;
        const SawMonitorModel::Outcome out = m.model.answer(c.answer);
        EXPECT_EQ(out.clearInfo, c.clearInfo);
        EXPECT_EQ(out.info, c.info);
        EXPECT_EQ(out.collectionEnabled.has_value() ? int(*out.collectionEnabled) : -1, c.collection);
        EXPECT_EQ(out.labelTag, c.labelTag);
        EXPECT_EQ(out.label.isEmpty(), c.labelTag < 0);
        EXPECT_EQ(!out.dataLine.isEmpty(), c.data);
        EXPECT_EQ(out.readingAdded, c.reading);
        EXPECT_EQ(m.model.readings().size(), c.reading ? 1u : 0u);
        EXPECT_EQ(out.readAnswered, c.readAnswered);
        // No read was sent: no answer moves the read timer.
        EXPECT_EQ(out.readTimer, SawMonitorModel::ReadTimer{});
    }
}

// Readings and data lines take the clock's time of their answer; the oldest readings go
// past kKeptReadings.
TEST(SawMonitorModel, ReadingsAreTimedAndBounded) {
    Clocked m;
    m.now = QDateTime(QDate(2024, 5, 6), QTime(23, 59, 59, 999));
    const SawMonitorModel::Outcome out = m.model.answer(Uid("EEEE-FEDCBAF2", "10", "20", "0032", "0064"));
    EXPECT_EQ(out.dataLine, TimeText(QTime(23, 59, 59)) + " T:16 H:32  cf= 430100  mf= 430050 df= -50");
    m.now = m.now.addMSecs(1);
    m.model.answer(Uid("EEEE-FEDCBAF0", "1A", "2D"));
    ASSERT_EQ(m.model.readings().size(), 2u);
    const SawReading& third = m.model.readings()[0];
    EXPECT_EQ(third.msecs, QDateTime(QDate(2024, 5, 6), QTime(23, 59, 59, 999)).toMSecsSinceEpoch());
    EXPECT_EQ((std::vector<int>{third.tag, third.t, third.h, third.cf, third.mf, third.df}),
              (std::vector<int>{2, 16, 32, 430100, 430050, -50}));
    EXPECT_EQ(m.model.readings()[1].msecs, QDateTime(QDate(2024, 5, 7), QTime(0, 0)).toMSecsSinceEpoch());

    for (int i = 2; i < SawMonitorModel::kKeptReadings; ++i)
        m.model.answer(Uid("EEEE-FEDCBAF1", "05", "06"));
    ASSERT_EQ(m.model.readings().size(), std::size_t(SawMonitorModel::kKeptReadings));
    EXPECT_EQ(m.model.readings().front().tag, 2);
    m.model.answer(Uid("EEEE-FEDCBAF1", "05", "06"));
    ASSERT_EQ(m.model.readings().size(), std::size_t(SawMonitorModel::kKeptReadings));
    EXPECT_EQ(m.model.readings().front().tag, 0);
    EXPECT_EQ(m.model.readings().back().tag, 1);
}

// The reads after a collection, event by event: what is read and what the read timer does.
TEST(SawMonitorModel, ReadsAfterACollectionGoOneAtATime) {
    using RT = SawMonitorModel::ReadTimer;
    const RT keep{}, stop{RT::Stop, 0}, gap{RT::Restart, SawMonitorModel::kReadGapMs},
        wait{RT::Restart, SawMonitorModel::kReadTimeoutMs};
    enum Event { On, Off, Stop, Tick, NoAck, Tag0 };
    struct Step {
        Event event;
        RT timer;
        int read = -1; // the tag read at a tick
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"switched off, a collection reads nothing", {{Stop, keep}, {Tick, keep}, {NoAck, keep}}},
        {"each answer brings the next read after the gap; the third answer ends the round",
         {{On, keep},
          {Stop, gap},
          {Tick, wait, 0},
          {Tag0, gap},
          {Tick, wait, 1},
          {NoAck, gap},
          {Tick, wait, 2},
          {NoAck, stop},
          {Tick, keep},
          {NoAck, keep}}},
        {"no answer in time: the next tag; after the third the round ends",
         {{On, keep},
          {Stop, gap},
          {Tick, wait, 0},
          {Tick, wait, 1},
          {Tick, wait, 2},
          {Tick, stop},
          {Tick, keep}}},
        {"an answer before the read went out, or a second one, moves nothing",
         {{On, keep},
          {Stop, gap},
          {NoAck, keep},
          {Tick, wait, 0},
          {NoAck, gap},
          {NoAck, keep},
          {Tick, wait, 1}}},
        {"a collection ending during a round starts no second one; after it, it does",
         {{On, keep},
          {Stop, gap},
          {Tick, wait, 0},
          {Stop, keep},
          {Tick, wait, 1},
          {Tick, wait, 2},
          {Stop, keep},
          {Tick, stop},
          {Stop, gap},
          {Tick, wait, 0}}},
        {"switching off ends a round at once",
         {{On, keep}, {Stop, gap}, {Tick, wait, 0}, {Off, stop}, {Tick, keep}, {NoAck, keep}, {Stop, keep}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clocked m;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i + 1));
            const Step& s = c.steps[i];
            RT timer;
            int read = -1;
            switch (s.event) {
            case On:
            case Off:
                timer = m.model.setReadAfter(s.event == On);
                break;
            case Stop:
                timer = m.model.answer(kStop).readTimer;
                break;
            case NoAck:
                timer = m.model.answer(kNoAck).readTimer;
                break;
            case Tag0:
                timer = m.model.answer(Uid("EEEE-FEDCBAF0", "1A", "2D")).readTimer;
                break;
            case Tick: {
                const SawMonitorModel::ReadTick t = m.model.readTimerFired();
                timer = t.timer;
                read = t.tag;
                break;
            }
            }
            EXPECT_EQ(timer.kind, s.timer.kind);
            EXPECT_EQ(timer.intervalMs, s.timer.intervalMs);
            EXPECT_EQ(read, s.read);
        }
    }
}

// The periodic collection: the first tick collects, then every period-th; the count label
// shows the ticks left, and the button blinks red and black from the first tick.
TEST(SawMonitorModel, ThePeriodicCollectionCountsDown) {
    struct Case {
        int32_t period;
        int ticks;
        std::vector<int> collectAt; // ticks (from 1) that collect
        QStringList counts;         // after ticks 1, 2, ...
    };
    const Case cases[] = {
        {150, 301, {1, 151, 301}, {"150", "149", "148"}},
        {2, 5, {1, 3, 5}, {"2", "1", "2", "1", "2"}},
        {1, 3, {1, 2, 3}, {"1", "1", "1"}},
        // Zero and below: the first tick only; the count goes on below zero.
        {0, 4, {1}, {"0", "-1", "-2", "-3"}},
        {-2, 3, {1}, {"-2", "-3", "-4"}},
        // The counters wrap as 32-bit integers do.
        {INT32_MIN, 3, {1}, {"-2147483648", "2147483647", "2147483646"}},
        {INT32_MAX, 2, {1}, {"2147483647", "2147483646"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("period " + std::to_string(c.period));
        Clocked m;
        EXPECT_EQ(m.model.startPeriodic(c.period),
                  (QStringList{"process start..", QStringLiteral("period %1").arg(c.period)}));
        EXPECT_TRUE(m.model.periodicOn());
        std::vector<int> collected;
        for (int t = 1; t <= c.ticks; ++t) {
            const SawMonitorModel::PeriodicTick tick = m.model.periodicTick();
            if (tick.collect) {
                EXPECT_EQ(tick.message, "collection..");
                collected.push_back(t);
            }
            EXPECT_EQ(tick.blinkRed, t % 2 == 1) << "tick " << t;
            if (t <= c.counts.size()) {
                EXPECT_EQ(tick.countText, c.counts[t - 1]) << "tick " << t;
            }
        }
        EXPECT_EQ(collected, c.collectAt);
        EXPECT_EQ(m.model.stopPeriodic(), "process stop");
        EXPECT_FALSE(m.model.periodicOn());
    }
}

// A new start blinks red first again, whatever the last tick showed.
TEST(SawMonitorModel, EachStartBlinksRedFirst) {
    Clocked m;
    m.model.startPeriodic(5);
    EXPECT_TRUE(m.model.periodicTick().blinkRed);
    m.model.stopPeriodic();
    m.model.startPeriodic(5);
    EXPECT_TRUE(m.model.periodicTick().blinkRed);
    EXPECT_FALSE(m.model.periodicTick().blinkRed);
}

} // namespace
} // namespace rd
