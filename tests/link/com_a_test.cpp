// The receiver thread on pseudo-terminals: its events, the hand-over of answers, the ring,
// and what it does when its port goes away.
#include "link/com_a.h"

#include "link/my_com.h"
#include "link_test_support.h"
#include "sim/reader_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace rd {
namespace {

using testing::Take;
using testing::WaitUntil;

// A line on which nothing comes. Each read first sets `reading`: from then on the thread has
// begun its run, and its fields may be looked at without racing its first writes.
class QuietPort : public testing::FakePort {
  public:
    explicit QuietPort(std::shared_ptr<Event> reading) : reading_(std::move(reading)) {}
    PortError read(void*, uint32_t, uint32_t* got) override {
        *got = 0;
        reading_->Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a quiet line's time-out
        return {};
    }

  private:
    std::shared_ptr<Event> reading_;
};

TEST(ReceiverEvents, EightEventsLabelledAfterThePortExistFromTheStartAndAreTheirOwn) {
    const auto reading = std::make_shared<Event>(true, false);
    SetPortOpener([reading](const std::string&, PortError&) { return std::make_unique<QuietPort>(reading); });
    const PortHandle h = testing::Open("COM3");
    SetPortOpener({});
    ASSERT_NE(h, INVALID_PORT_HANDLE);
    TCOM_A t(h, "COM3");
    // A later thread on the same port name: none of its events is one of the first's.
    TCOM_A later(INVALID_PORT_HANDLE, "COM3");
    const struct {
        const char* name;
        TCOM_A::EventId id;
        bool manual;
    } rows[] = {
        {"DATA_FOR_SEND_READYCOM3", TCOM_A::EventId::SendStrReady, false},
        {"DATA READYCOM3", TCOM_A::EventId::DATAReady, true},
        {"DATA FREECOM3", TCOM_A::EventId::DATAFree, true},
        {"ANSWER STRING READYCOM3", TCOM_A::EventId::AnswerStrReady, true},
        {"ANSWER STRING FREECOM3", TCOM_A::EventId::AnswerStrFree, true},
        {"DATA READY FOR LOADCOM3", TCOM_A::EventId::DataReadyForLoad, false},
        {"DATA READY FOR LOAD OBRAZCOM3", TCOM_A::EventId::DataReadyForLoadOBRAZ, false},
        {"EV_RXFLAG COM3", TCOM_A::EventId::COM, false},
    };
    for (const auto& r : rows) {
        const Event& mine = t.event(r.id);
        EXPECT_EQ(mine.name(), r.name);
        EXPECT_NE(&later.event(r.id), &mine) << r.name;
        EXPECT_EQ(later.event(r.id).name(), r.name);
        EXPECT_NE(CreateNamedEvent(r.name, !r.manual, true).get(), &mine) << r.name;
        EXPECT_EQ(mine.manualReset(), r.manual) << r.name;
        EXPECT_FALSE(mine.IsSet()) << r.name;
    }
    EXPECT_EQ(t.port(), "COM3");
    // The cutter's state belongs to the thread, which sets it at the start of its run: it is
    // read once the thread is reading, and with nothing coming it stays as it was set.
    ASSERT_TRUE(reading->Wait(3000));
    EXPECT_EQ(t.cutterMode(), 0);
    EXPECT_EQ(t.timeouts().ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.timeouts().ReadTotalTimeoutMultiplier, 0xFFFFFFFFu);
    EXPECT_EQ(t.timeouts().ReadTotalTimeoutConstant, 101u);
    EXPECT_EQ(t.timeouts().WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.timeouts().WriteTotalTimeoutConstant, 0u);
    ClosePort(h);
}

// A connected reader: the simulator on COM3 and the port opened by the port object.
class ReceiverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPortDirectory(dir.path());
        sim::Options o;
        o.portDir = dir.path();
        o.comNumber = 3;
        o.splitParts = splitParts;
        o.splitGapMs = 15;
        reader.emplace(o);
        ASSERT_TRUE(com.create_port("COM3", ": baud=115200 parity=N data=8 stop=2").ok());
        receiver.emplace(com.hPORT, com.CommPort.empty() ? "COM3" : com.CommPort);
    }
    void TearDown() override {
        receiver.reset();
        if (com.hPORT != 0)
            ClosePort(com.hPORT);
        reader.reset();
        ResetPortDirectory();
    }

    int splitParts = 1;
    sim::TempPortDir dir;
    std::optional<sim::ReaderSim> reader;
    Tmy_COM com;
    std::optional<TCOM_A> receiver;
};

TEST_F(ReceiverTest, AnswersOfTheReaderAreHandedOver) {
    com.SendStrToPort(com.hPORT, 1, u"VERSION");
    EXPECT_EQ(Take(*receiver), ":00000001 VERSION VKR900-15;");
    com.SendStrToPort(com.hPORT, 1, u"ANYTHING");
    EXPECT_EQ(Take(*receiver), ":00000002 OK;");
    EXPECT_EQ(receiver->droppedBytes(), 0u);
    EXPECT_EQ(receiver->failedReads(), 0u);
}

class SplitReceiverTest : public ReceiverTest {
  protected:
    void SetUp() override {
        splitParts = 6;
        ReceiverTest::SetUp();
    }
};

TEST_F(SplitReceiverTest, AnswerInSeveralReadsIsAssembled) {
    com.SendStrToPort(com.hPORT, 1, u"VERSION");
    EXPECT_EQ(Take(*receiver), ":00000001 VERSION VKR900-15;");
}

TEST_F(ReceiverTest, TwoAnswersFromOneReadAreHeldInTurn) {
    reader->sendRaw(":1 A;:2 B;");
    ASSERT_TRUE(receiver->take(3000).has_value());
    // Held: the second answer waits in the ring and does not touch the buffer.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(receiver->take(0), std::optional<std::string>(":1 A;"));
    EXPECT_EQ(Take(*receiver), ":1 A;");
    EXPECT_EQ(Take(*receiver), ":2 B;");
    EXPECT_FALSE(receiver->take(100).has_value());
}

TEST_F(ReceiverTest, BytesOutsideFramesAreDropped) {
    // Before the first ":", CR LF between answers, and an answer broken by a line end.
    reader->sendRaw("noise; 12\r\n:1 bro\r\nken;\r\n:2 B;\r\n\r\n:3 C;");
    EXPECT_EQ(Take(*receiver), ":2 B;");
    EXPECT_EQ(Take(*receiver), ":3 C;");
}

TEST_F(ReceiverTest, ManyAnswersInOrderNoneLostNoneTwice) {
    std::string burst;
    const int count = 500;
    for (int i = 1; i <= count; ++i)
        burst += ":" + std::to_string(i) + " INV 1 2 3008000000000001 -50;\r\n";
    reader->sendRaw(burst);
    for (int i = 1; i <= count; ++i) {
        const auto answer = Take(*receiver);
        ASSERT_TRUE(answer) << "answer " << i << " never came";
        ASSERT_EQ(*answer, ":" + std::to_string(i) + " INV 1 2 3008000000000001 -50;");
    }
    EXPECT_FALSE(receiver->take(100).has_value());
}

TEST_F(ReceiverTest, HungUpPortDoesNotSpinAndIsLost) {
    EXPECT_FALSE(receiver->lost());
    reader->hangUp();
    ASSERT_TRUE(WaitUntil([&] { return receiver->failedReads() >= 1; }));
    const auto start = testing::Clock::now();
    const uint64_t before = receiver->failedReads();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t failed = receiver->failedReads() - before;
    // Failed reads are spaced by the back-off: a handful, not thousands. Counted over the time
    // that really passed, which is longer than the sleep when the test is held up.
    const auto ms = static_cast<uint64_t>(testing::MsSince(start));
    EXPECT_LE(failed, ms / TCOM_A::kFailedReadBackoffMs + 2) << ms << " ms";
    EXPECT_FALSE(receiver->event(TCOM_A::EventId::AnswerStrReady).IsSet());
    EXPECT_TRUE(receiver->lost());
}

TEST_F(ReceiverTest, HungUpPortKeepsTheCauseOfItsFailedReads) {
    EXPECT_EQ(receiver->lastReadError().err, 0);
    const std::string device = ResolvePortName("COM3");
    reader->hangUp();
    ASSERT_TRUE(WaitUntil([&] { return receiver->failedReads() >= 1; }));
    const PortError e = receiver->lastReadError();
    EXPECT_EQ(e.err, EIO);
    EXPECT_EQ(e.text, "the device hung up (unplugged?)");
    EXPECT_EQ(e.device, device);
}

TEST_F(ReceiverTest, EarlierThreadOnTheSamePortNameTakesNoRelease) {
    // A thread left from an earlier connection on COM3, its port gone: it never takes a
    // release meant for the thread of the new connection.
    TCOM_A earlier(INVALID_PORT_HANDLE, "COM3");
    std::string burst;
    for (int i = 1; i <= 20; ++i)
        burst += ":" + std::to_string(i) + " N;";
    reader->sendRaw(burst);
    for (int i = 1; i <= 20; ++i)
        ASSERT_EQ(Take(*receiver, 1000), ":" + std::to_string(i) + " N;") << "answer " << i;
}

// A raw pseudo-terminal as COM4, its port open at 115200 8N2; the test starts the receiver.
class ReceiverRing : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPortDirectory(dir.path());
        pty.publish(dir.path(), 4);
        h = testing::Open("COM4");
        ASSERT_NE(h, INVALID_PORT_HANDLE);
        ASSERT_TRUE(SetCommState(h, {115200, 8, 'N', StopBits::Two}));
    }
    void TearDown() override {
        if (h != INVALID_PORT_HANDLE)
            ClosePort(h);
        ResetPortDirectory();
    }
    sim::TempPortDir dir;
    testing::RawPty pty;
    PortHandle h = INVALID_PORT_HANDLE;
};

// The ring's own behaviour, with one answer at a time out of it (no queue of cut answers in
// front): everything behind a waiting answer stays in the ring.
constexpr int kOneAnswerAtATime = 1;

TEST_F(ReceiverRing, FullRingDropsNewcomersAndKeepsWhatWaits) {
    TCOM_A t(h, "COM4", 3, TCOM_A::kRingSize, kOneAnswerAtATime);
    // ":A;" is held; behind it exactly a ring's worth of bytes ending in ":B;", then ":C;",
    // which finds no room.
    const int room = TCOM_A::kRingSize - 1;
    pty.write(":A;" + std::string(room - 3, '\n') + ":B;" + ":C;");
    ASSERT_TRUE(WaitUntil([&] { return t.droppedBytes() >= 3; }, 10000));
    EXPECT_EQ(t.droppedBytes(), 3u);
    EXPECT_EQ(Take(t), ":A;");
    EXPECT_EQ(Take(t), ":B;");
    EXPECT_FALSE(t.take(100).has_value());
    // The ring goes on working after it has wrapped.
    pty.write(":D;");
    EXPECT_EQ(Take(t), ":D;");
}

// A reader frame of 33 bytes with a number of its own: ":00000042 DATA 0123456789ABCDEFG;".
std::string NumberedFrame(int i) {
    char text[40];
    std::snprintf(text, sizeof text, ":%08d DATA 0123456789ABCDEFG;", i);
    return text;
}

TEST_F(ReceiverRing, LostBytesBreakTheFrameTheyFallInto) {
    TCOM_A t(h, "COM4", 3, TCOM_A::kRingSize, kOneAnswerAtATime);
    const int frameSize = int(NumberedFrame(0).size());
    const int room = TCOM_A::kRingSize - 1;
    std::string sent = ":HELD;";
    pty.write(sent);
    ASSERT_TRUE(t.take(3000).has_value());

    // While ":HELD;" waits, a flood larger than the ring: the ring ends inside a frame.
    std::string flood;
    int next = 1;
    while (int(flood.size()) < room + 10 * frameSize)
        flood += NumberedFrame(next++);
    ASSERT_NE(room % frameSize, 0);
    pty.write(flood);
    sent += flood;
    const uint64_t firstLoss = flood.size() - room;
    ASSERT_TRUE(WaitUntil([&] { return t.droppedBytes() >= firstLoss; }, 10000));

    // One release makes room for one frame; a second, smaller flood then fills that room
    // and loses the rest, so two gaps wait in the ring at once.
    EXPECT_EQ(Take(t), ":HELD;");
    ASSERT_TRUE(t.take(3000).has_value());
    std::string second;
    for (int k = 0; k < 5; ++k)
        second += NumberedFrame(next++);
    pty.write(second);
    sent += second;
    ASSERT_TRUE(WaitUntil([&] { return t.droppedBytes() >= firstLoss + second.size() - frameSize; }, 10000));
    EXPECT_EQ(t.droppedBytes(), firstLoss + second.size() - frameSize);

    // Drain the ring; then a last frame, which falls behind the second gap. (Were it sent
    // before the ring is empty, it would still land there: nothing changes.)
    std::vector<std::string> answers;
    while (auto answer = Take(t, 500))
        answers.push_back(*answer);
    const std::string tail = NumberedFrame(next++);
    pty.write(tail);
    sent += tail;
    while (answers.empty() || answers.back() != tail) {
        auto answer = Take(t);
        if (!answer)
            break;
        answers.push_back(*answer);
    }
    EXPECT_FALSE(t.take(100).has_value());

    // Every answer is a run of bytes the reader sent, in the order sent.
    std::size_t at = 0;
    for (const std::string& a : answers) {
        const std::size_t found = sent.find(a, at);
        ASSERT_NE(found, std::string::npos) << "an answer never sent: " << a;
        at = found + a.size();
    }
    // The frames wholly in the ring, the one that filled the room, and the tail; the
    // frames cut by a gap are gone.
    const std::size_t inRing = room / frameSize;
    ASSERT_EQ(answers.size(), inRing + 2);
    EXPECT_EQ(answers[inRing - 1], NumberedFrame(int(inRing)));
    EXPECT_EQ(answers[inRing], second.substr(0, frameSize));
    EXPECT_EQ(answers.back(), tail);
}

// A serial line whose driver loses input while the program is slow to read: the reads hand
// on the bytes in turn, and the driver's count of lost bytes grows by lostBefore[k] before
// read k.
class OverrunPort : public testing::FakePort {
  public:
    OverrunPort(std::vector<std::string> reads, uint64_t lostAtOpen, std::vector<uint64_t> lostBefore)
        : reads_(std::move(reads)), lostBefore_(std::move(lostBefore)), lost_(lostAtOpen) {}
    PortError read(void* buf, uint32_t n, uint32_t* got) override {
        *got = 0;
        if (next_ >= reads_.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a quiet line's time-out
            return {};
        }
        lost_ += lostBefore_[next_];
        const std::string& bytes = reads_[next_++];
        *got = std::min<uint32_t>(n, static_cast<uint32_t>(bytes.size()));
        std::copy_n(bytes.data(), *got, static_cast<char*>(buf));
        return {};
    }
    uint64_t inputOverruns() override { return lost_; }

  private:
    std::vector<std::string> reads_;
    std::vector<uint64_t> lostBefore_;
    uint64_t lost_;
    std::size_t next_ = 0;
};

TEST(ReceiverOverruns, BytesTheDriverLostEndTheFrameAndCountAsDropped) {
    // ":1 DA" and "TA 2;" are the two ends of frames with 40 bytes lost between them.
    const std::vector<std::string> reads = {":1 DA", "TA 2;", ":3 OK;"};
    const struct {
        uint64_t lostAtOpen;
        std::vector<uint64_t> lostBefore;
        std::vector<std::string> answers;
        uint64_t dropped;
    } rows[] = {
        {0, {0, 40, 0}, {":3 OK;"}, 40},
        {0, {0, 0, 0}, {":1 DATA 2;", ":3 OK;"}, 0}, // a driver that lost nothing
        {5, {0, 0, 0}, {":1 DATA 2;", ":3 OK;"}, 0}, // lost before the thread began to read
    };
    for (const auto& r : rows) {
        SetPortOpener([&](const std::string&, PortError&) {
            return std::make_unique<OverrunPort>(reads, r.lostAtOpen, r.lostBefore);
        });
        const PortHandle h = testing::Open("COM6");
        SetPortOpener({});
        ASSERT_NE(h, INVALID_PORT_HANDLE);
        {
            TCOM_A t(h, "COM6");
            std::vector<std::string> answers;
            while (answers.size() < r.answers.size()) {
                const std::optional<std::string> a = t.take(3000);
                ASSERT_TRUE(a.has_value()) << "after " << answers.size();
                answers.push_back(*a);
                t.release();
            }
            EXPECT_EQ(answers, r.answers);
            EXPECT_EQ(t.droppedBytes(), r.dropped);
        }
        ClosePort(h);
    }
}

// Reads fail for a while (an adapter out and back in), then answers come again.
class FlakyPort : public testing::FakePort {
  public:
    explicit FlakyPort(int failures) : failures_(failures) {}
    PortError read(void* buf, uint32_t n, uint32_t* got) override {
        *got = 0;
        if (failures_ > 0) {
            --failures_;
            return PortFailed(EIO);
        }
        if (sent_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a quiet line's time-out
            return {};
        }
        const std::string answer = ":1 BACK;";
        *got = std::min<uint32_t>(n, static_cast<uint32_t>(answer.size()));
        std::copy_n(answer.data(), *got, static_cast<char*>(buf));
        sent_ = true;
        return {};
    }

  private:
    int failures_;
    bool sent_ = false;
};

TEST(ReceiverLost, FailuresInARowLoseTheConnectionFewerDoNot) {
    const struct {
        int failures;
        bool lost;
    } rows[] = {{TCOM_A::kLostAfterFailedReads - 1, false}, {TCOM_A::kLostAfterFailedReads, true}};
    for (const auto& r : rows) {
        SetPortOpener(
            [&](const std::string&, PortError&) { return std::make_unique<FlakyPort>(r.failures); });
        const PortHandle h = testing::Open("COM6");
        ASSERT_NE(h, INVALID_PORT_HANDLE);
        {
            TCOM_A t(h, "COM6");
            // Reads that work again do not bring a lost connection back.
            EXPECT_EQ(Take(t), ":1 BACK;") << r.failures;
            EXPECT_EQ(t.lost(), r.lost) << r.failures;
        }
        ClosePort(h);
    }
    SetPortOpener({});
}

// Reads fail with the given causes in turn, then the line is quiet.
class FailsWith : public testing::FakePort {
  public:
    explicit FailsWith(std::vector<int> causes) : causes_(std::move(causes)) {}
    PortError read(void*, uint32_t, uint32_t* got) override {
        *got = 0;
        if (next_ < causes_.size())
            return PortFailed(causes_[next_++], "/dev/ttyUSB0");
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a quiet line's time-out
        return {};
    }

  private:
    std::vector<int> causes_;
    std::size_t next_ = 0;
};

TEST(ReceiverCause, TheLastFailedReadGivesTheCauseAndReadsThatWorkKeepIt) {
    SetPortOpener([](const std::string&, PortError&) {
        return std::make_unique<FailsWith>(std::vector<int>{ENXIO, EIO});
    });
    const PortHandle h = testing::Open("COM6");
    SetPortOpener({});
    ASSERT_NE(h, INVALID_PORT_HANDLE);
    {
        TCOM_A t(h, "COM6");
        ASSERT_TRUE(WaitUntil([&] { return t.failedReads() == 2; }));
        // Quiet reads that work afterwards leave the cause in place, next to the count.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const PortError e = t.lastReadError();
        EXPECT_EQ(e.err, EIO);
        EXPECT_EQ(e.text, "input/output error");
        EXPECT_EQ(e.device, "/dev/ttyUSB0");
        EXPECT_FALSE(t.lost());
    }
    ClosePort(h);
}

TEST(ReceiverRecovery, ReadsAreTriedAgainAfterFailures) {
    SetPortOpener([](const std::string&, PortError&) { return std::make_unique<FlakyPort>(3); });
    const PortHandle h = testing::Open("COM6");
    ASSERT_NE(h, INVALID_PORT_HANDLE);
    {
        TCOM_A t(h, "COM6");
        EXPECT_EQ(Take(t), ":1 BACK;");
        EXPECT_EQ(t.failedReads(), 3u);
    }
    ClosePort(h);
    SetPortOpener({});
}

} // namespace
} // namespace rd
