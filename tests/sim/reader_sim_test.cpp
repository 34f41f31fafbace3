// The simulator on real pseudo-terminals, seen from the program's side: the slave path
// opened with plain POSIX calls, request frames written, answers read.
#include "sim/reader_sim.h"

#include "pty_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace rd::sim {
namespace {

using testing::FramesIn;
using testing::PtyClient;
using testing::RequestFrame;
using testing::WordsOf;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A private port directory with one simulated reader on COM3 and the program's side of it.
class SimTest : public ::testing::Test {
  protected:
    void Start(Options opt) {
        opt.portDir = dir_.path();
        sim_ = std::make_unique<ReaderSim>(std::move(opt));
        port_ = std::make_unique<PtyClient>(sim_->portPath());
        ASSERT_TRUE(port_->ok()) << sim_->portPath();
    }
    // Everything the reader has queued so far, read through a mark queued after it (and left
    // out): what follows a request, without waiting for the line to go quiet. Call it once
    // the request is recorded.
    std::string ReadAllQueued() {
        const std::string mark = ":END OF TEST;";
        sim_->sendRaw(mark);
        std::string got = port_->ReadThrough(mark);
        const size_t at = got.rfind(mark);
        EXPECT_NE(at, std::string::npos) << "the mark did not come";
        return got.substr(0, at);
    }
    // Sends one request and returns the frames of its answer.
    std::vector<std::string> Ask(int counter, const std::string& command, size_t frames = 1) {
        port_->Write(RequestFrame(counter, command));
        return FramesIn(port_->ReadFrames(frames));
    }

    TempPortDir dir_;
    std::unique_ptr<ReaderSim> sim_;
    std::unique_ptr<PtyClient> port_;
};

// --- Identification ---------------------------------------------------------------------

// The identifiers in the order in which discovery probes for them.
const std::vector<std::string> kProbeOrder = {"VKR900-15",  "VKR900-12", "VKR900-153", "VKR433-16",
                                              "VKR433-SAW", "WG",        "K7000"};

class VersionReply : public SimTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(VersionReply, NamesTheReaderAndNoReaderProbedBeforeIt) {
    const std::string id = GetParam();
    Start({.identifier = id});
    auto frames = Ask(7, "VERSION");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], ":00000007 VERSION " + id + ";");
    // Discovery takes the first identifier found as a substring: the reply must not name an
    // earlier one (only "VKR900-153" contains "VKR900-15", as the real reader's reply does).
    for (const std::string& earlier : kProbeOrder) {
        if (earlier == id) {
            break;
        }
        if (id == "VKR900-153" && earlier == "VKR900-15") {
            continue;
        }
        EXPECT_EQ(frames[0].find(earlier), std::string::npos) << earlier;
    }
}

INSTANTIATE_TEST_SUITE_P(Identifiers, VersionReply,
                         ::testing::Values("VKR900-15", "VKR900-12", "VKR900-153", "VKR433-16", "VKR433-SAW",
                                           "WG", "K7000", "XR-77 test unit"),
                         [](const auto& info) {
                             std::string n;
                             for (char c : info.param) {
                                 n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return n;
                         });

TEST_F(SimTest, OtherCommandsGetAPlainAnswerAndNoInventedKeyword) {
    Start({.identifier = "WG"});
    // Commands of other reader kinds mean nothing to a Wiegand controller.
    for (const char* cmd : {"WG_READ_TIME", "KELM_EPC_INVENTORY_TIME 20 5 15", "EPC_STOP",
                            "SEND_COP_READ_USER_ID EEEE FEDCBAF0 ", ""}) {
        auto frames = Ask(3, cmd);
        ASSERT_EQ(frames.size(), 1u) << cmd;
        EXPECT_EQ(frames[0], ":00000003 OK;") << cmd;
    }
    EXPECT_TRUE(port_->ReadUntilQuiet(120).empty());
}

// --- Requests recorded ------------------------------------------------------------------

TEST_F(SimTest, RecordsEveryRequestByteForByteWhateverTheWritesLookLike) {
    Start({.identifier = "K7000"});
    const std::string a = RequestFrame(1, "VERSION");
    const std::string b = RequestFrame(2, "POWER_OFF ", 0x0A);
    const std::string c = std::string("\x01:00000003 T\xC0\xFF 12:00;", 21);
    // Garbage before, a frame cut in two writes, two frames in one write.
    port_->Write("\r\n~~" + a.substr(0, 5));
    port_->Write(a.substr(5) + "\xFE" + b + c);
    ASSERT_TRUE(sim_->waitForRequests(3, 2000));
    auto req = sim_->requests();
    ASSERT_EQ(req.size(), 3u);
    EXPECT_EQ(std::string(req[0].begin(), req[0].end()), a);
    EXPECT_EQ(std::string(req[1].begin(), req[1].end()), b);
    EXPECT_EQ(std::string(req[2].begin(), req[2].end()), c);
    EXPECT_EQ(sim_->commands(), (std::vector<std::string>{"VERSION", "POWER_OFF ", c.substr(11, 9)}));
    EXPECT_EQ(FramesIn(port_->ReadFrames(3)).size(), 3u);
    EXPECT_FALSE(sim_->waitForRequests(4, 50));
}

TEST_F(SimTest, TheSlavePathCanBeOpenedAndClosedAgainAndAgain) {
    Start({.identifier = "VKR433-16"});
    EXPECT_EQ(std::filesystem::read_symlink(sim_->portPath()).string(), sim_->slavePath());
    port_.reset();
    for (int i = 1; i <= 3; ++i) {
        PtyClient again(sim_->portPath());
        ASSERT_TRUE(again.ok());
        again.Write(RequestFrame(i, "VERSION"));
        EXPECT_EQ(FramesIn(again.ReadFrames(1)),
                  std::vector<std::string>{":0000000" + std::to_string(i) + " VERSION VKR433-16;"});
    }
    EXPECT_FALSE(sim_->hungUp());
}

// --- 900 MHz inventory ------------------------------------------------------------------

// Checks one inventory cycle: START_INVENTORY, then one INV answer per tag, each exactly
// ":<counter> " and the tag's text.
void ExpectCycle(const std::vector<std::string>& frames, size_t at, const std::string& counter,
                 const std::vector<std::string>& tags) {
    ASSERT_GE(frames.size(), at + 1 + tags.size());
    EXPECT_EQ(frames[at], ":" + counter + " START_INVENTORY;");
    for (size_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(frames[at + 1 + i], ":" + counter + " " + tags[i] + ";") << "tag " << i;
    }
}

// The default field: 64-bit EPCs (PC word 2000), strengths by place in the field.
const std::vector<std::string> kTwoTags = {"INV 1 2000 3008000000000001 -50",
                                           "INV 1 2000 3008000000000002 -53"};

TEST_F(SimTest, InventoryRunsCyclesUntilEpcStopIsConfirmed) {
    Start({.identifier = "VKR900-12", .tagCount = 2, .cyclePeriodMs = 20});
    port_->Write(RequestFrame(12, "KELM_EPC_INVENTORY_TIME 20 5 15"));
    std::string got = port_->ReadFrames(9);
    EXPECT_TRUE(sim_->inventoryRunning());

    port_->Write(RequestFrame(13, "EPC_STOP"));
    ASSERT_TRUE(sim_->waitForRequests(2, 2000));
    got += ReadAllQueued();
    auto frames = FramesIn(got);
    ASSERT_GE(frames.size(), 10u);
    EXPECT_EQ(frames.back(), ":00000013 STOP_INVENTORY;");
    // Whole cycles up to the confirmation, every tag with the same text in each of them and
    // the run's start counter; nothing after the confirmation.
    ASSERT_EQ((frames.size() - 1) % 3, 0u);
    for (size_t i = 0; i + 1 < frames.size(); i += 3) {
        ExpectCycle(frames, i, "00000012", kTwoTags);
    }
    EXPECT_FALSE(sim_->inventoryRunning());

    // A new run answers with its own start counter.
    port_->Write(RequestFrame(14, "KELM_EPC_INVENTORY_TIME 20 5 15"));
    ExpectCycle(FramesIn(port_->ReadFrames(6)), 3, "00000014", kTwoTags);
}

TEST_F(SimTest, ExplicitEpcsAndAnEmptyField) {
    Start({.identifier = "VKR900-153",
           .epcs = {"E2801160600002084B5F1C2A", "ABCD", "300800000000000000000000000000000001"},
           .cyclePeriodMs = 20});
    port_->Write(RequestFrame(1, "KELM_EPC_INVENTORY_TIME 7 3 100"));
    // The PC word follows the EPC's length: 6, 1 and 9 words.
    ExpectCycle(FramesIn(port_->ReadFrames(8)), 4, "00000001",
                {"INV 1 3000 E2801160600002084B5F1C2A -50", "INV 1 0800 ABCD -53",
                 "INV 1 4800 300800000000000000000000000000000001 -56"});
    port_->Write(RequestFrame(2, "EPC_STOP"));
    ASSERT_TRUE(sim_->waitForRequests(2, 2000));
    port_->ReadUntilQuiet(100);

    sim_.reset();
    port_.reset();
    Start({.identifier = "VKR900-15", .tagCount = 0, .cyclePeriodMs = 20});
    port_->Write(RequestFrame(1, "KELM_EPC_INVENTORY_TIME 20 5 15"));
    auto frames = FramesIn(port_->ReadFrames(2));
    EXPECT_EQ(frames, (std::vector<std::string>{":00000001 START_INVENTORY;", ":00000001 START_INVENTORY;"}));
}

// With varySignal only word 6 changes: by 1 from one read of a tag to the next, never more
// than 3 away from the tag's level.
TEST_F(SimTest, VaryingSignalMovesOnlyTheStrength) {
    Start({.identifier = "VKR900-15", .tagCount = 2, .cyclePeriodMs = 5, .varySignal = true});
    port_->Write(RequestFrame(5, "KELM_EPC_INVENTORY_TIME 20 5 15"));
    auto frames = FramesIn(port_->ReadFrames(3 * 12));
    port_->Write(RequestFrame(6, "EPC_STOP"));
    ASSERT_GE(frames.size(), 36u);
    for (size_t tag = 0; tag < 2; ++tag) {
        SCOPED_TRACE(tag);
        const int level = -50 - 3 * static_cast<int>(tag);
        std::set<std::string> texts;
        int last = level;
        for (size_t k = 0; k < 12; ++k) {
            const std::string& f = frames[3 * k + 1 + tag];
            auto w = WordsOf(f);
            ASSERT_EQ(w.size(), 6u) << f;
            EXPECT_EQ(f.substr(0, f.rfind(' ')),
                      ":00000005 INV 1 2000 300800000000000" + std::to_string(tag + 1));
            const int rssi = std::atoi(w[5].c_str());
            EXPECT_LE(std::abs(rssi - level), 3) << f;
            if (k > 0) {
                EXPECT_EQ(std::abs(rssi - last), 1) << f;
            }
            last = rssi;
            texts.insert(f);
        }
        EXPECT_EQ(texts.size(), 7u);
    }
}

TEST_F(SimTest, CyclesNobodyReadsDoNotPileUp) {
    // About 4 KiB a cycle, a cycle a millisecond: unbounded, 300 ms would queue over 1 MiB.
    Start({.identifier = "VKR900-15", .tagCount = 100, .cyclePeriodMs = 1});
    port_->Write(RequestFrame(1, "KELM_EPC_INVENTORY_TIME 20 5 15"));
    ASSERT_TRUE(sim_->waitForRequests(1, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The stop is read and ends the run although output waits; what is left to read is the
    // bounded backlog of whole cycles and the confirmation.
    port_->Write(RequestFrame(2, "EPC_STOP"));
    ASSERT_TRUE(sim_->waitForRequests(2, 2000));
    const std::string got = ReadAllQueued();
    EXPECT_FALSE(sim_->inventoryRunning());
    EXPECT_LT(got.size(), 512u * 1024);
    const auto frames = FramesIn(got);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), ":00000002 STOP_INVENTORY;");
    EXPECT_EQ(frames.front(), ":00000001 START_INVENTORY;");
}

struct StopCase {
    const char* name;
    int confirmAfter;
    bool confirm;
};

class StopConfirmation : public SimTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopConfirmation, TheRunEndsAtTheConfiguredStopAndIsConfirmedOrNot) {
    const StopCase& c = GetParam();
    Start({.identifier = "VKR900-15",
           .tagCount = 1,
           .cyclePeriodMs = 20,
           .stopConfirmAfter = c.confirmAfter,
           .confirmStop = c.confirm});
    port_->Write(RequestFrame(1, "KELM_EPC_INVENTORY_TIME 20 5 15"));
    ASSERT_EQ(FramesIn(port_->ReadFrames(2)).size(), 2u);
    uint64_t framesRead = 2;
    for (int k = 1; k < c.confirmAfter; ++k) {
        port_->Write(RequestFrame(1 + k, "EPC_STOP"));
        ASSERT_TRUE(sim_->waitForRequests(static_cast<size_t>(1 + k), 2000));
        // A lost stop: the run goes on (a whole cycle is written after the stop came), and
        // nothing confirms it.
        const uint64_t want = sim_->answersSent() - framesRead + 2;
        auto frames = FramesIn(port_->ReadFrames(want));
        ASSERT_EQ(frames.size(), want);
        framesRead += want;
        for (const auto& f : frames) {
            EXPECT_EQ(f.find("STOP_INVENTORY"), std::string::npos) << f;
        }
        EXPECT_TRUE(sim_->inventoryRunning());
    }
    port_->Write(RequestFrame(1 + c.confirmAfter, "EPC_STOP"));
    ASSERT_TRUE(sim_->waitForRequests(static_cast<size_t>(1 + c.confirmAfter), 2000));
    auto tail = FramesIn(ReadAllQueued());
    EXPECT_FALSE(sim_->inventoryRunning());
    const bool confirmed = !tail.empty() && tail.back().find("STOP_INVENTORY") != std::string::npos;
    EXPECT_EQ(confirmed, c.confirm);
}

INSTANTIATE_TEST_SUITE_P(Cases, StopConfirmation,
                         ::testing::Values(StopCase{"First", 1, true}, StopCase{"Third", 3, true},
                                           StopCase{"Never", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- 433 MHz and sensor tags ------------------------------------------------------------

TEST_F(SimTest, CollectionStartsAndStopsAShortWhileLater) {
    Start({.identifier = "VKR433-16", .collectionMs = 80});
    const auto t0 = Clock::now();
    port_->Write(RequestFrame(4, "SEND_COP_COLLECTION 16 48 11 3000"));
    auto frames = FramesIn(port_->ReadFrames(2));
    EXPECT_GE(MsSince(t0), 80);
    EXPECT_EQ(frames,
              (std::vector<std::string>{":00000004 collection_start..;", ":00000004 collection_stop;"}));
}

struct Reading {
    std::string id;
    int t, h, mf, cf;
};

// Decodes a "UID" record at the character positions the sensor-tag monitor reads
// (counted from 1): id 1-13, T 23-24, H 25-26, mf 31-34, cf 35-38.
Reading Decode(const std::string& record) {
    auto hex = [&](size_t pos, size_t len) { return std::stoi(record.substr(pos - 1, len), nullptr, 16); };
    return {record.substr(0, 13), hex(23, 2), hex(25, 2), hex(31, 4) + 430000, hex(35, 4) + 430000};
}

TEST_F(SimTest, UidRecordsCarryTheReadingsAtTheirPositionsAndDriftSlowly) {
    Start({.identifier = "VKR433-SAW"});
    // The window's read commands end with a blank; the console may space them otherwise.
    const std::vector<std::pair<std::string, std::string>> reads = {
        {"SEND_COP_READ_USER_ID EEEE FEDCBAF0 ", "EEEE-FEDCBAF0"},
        {"SEND_COP_READ_USER_ID EEEE FEDCBAF1", "EEEE-FEDCBAF1"},
        {"SEND_COP_READ_USER_ID   EEEE  FEDCBAF2  ", "EEEE-FEDCBAF2"},
    };
    for (const auto& [command, id] : reads) {
        std::vector<Reading> seen;
        for (int i = 0; i < 24; ++i) {
            auto frames = Ask(i + 1, command);
            ASSERT_EQ(frames.size(), 1u);
            auto w = WordsOf(frames[0]);
            ASSERT_EQ(w.size(), 3u) << frames[0];
            ASSERT_EQ(w[1], "UID");
            ASSERT_GE(w[2].size(), 38u);
            for (char ch : w[2]) {
                ASSERT_TRUE(ch != ':' && ch != ';' && ch != ' ') << w[2];
            }
            seen.push_back(Decode(w[2]));
        }
        std::set<int> temperatures, humidities, dfs;
        for (size_t i = 0; i < seen.size(); ++i) {
            const Reading& r = seen[i];
            EXPECT_EQ(r.id, id);
            EXPECT_TRUE(r.t >= 10 && r.t <= 40) << r.t;
            EXPECT_TRUE(r.h >= 20 && r.h <= 80) << r.h;
            EXPECT_TRUE(r.mf > 430000 && r.mf < 431000 && r.cf > 430000 && r.cf < 431000);
            if (i > 0) {
                EXPECT_LE(std::abs(r.t - seen[i - 1].t), 1);
                EXPECT_LE(std::abs(r.h - seen[i - 1].h), 1);
            }
            temperatures.insert(r.t);
            humidities.insert(r.h);
            dfs.insert(r.mf - r.cf);
        }
        EXPECT_GT(temperatures.size(), 1u) << id;
        EXPECT_GT(humidities.size(), 1u) << id;
        EXPECT_GT(dfs.size(), 1u) << id;
    }
}

TEST_F(SimTest, UnknownOrIncompleteTagAddressesGetNoAck) {
    Start({.identifier = "VKR433-SAW", .sensorTags = {"EEEE-FEDCBAF0"}});
    for (const char* cmd : {"SEND_COP_READ_USER_ID EEEE FEDCBAF1 ", "SEND_COP_READ_USER_ID EEEE FEDCBAF9 ",
                            "SEND_COP_READ_USER_ID EEEE", "SEND_COP_READ_USER_ID"}) {
        EXPECT_EQ(Ask(5, cmd), std::vector<std::string>{":00000005 NO_ACK;"}) << cmd;
    }
    auto frames = Ask(6, "SEND_COP_READ_USER_ID EEEE FEDCBAF0 ");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(WordsOf(frames[0])[1], "UID");
}

// --- Timing and fault options -----------------------------------------------------------

TEST_F(SimTest, AnswersWithoutCrLfEndAtTheSemicolon) {
    Start({.identifier = "WG", .crlf = false});
    port_->Write(RequestFrame(1, "VERSION"));
    EXPECT_EQ(port_->ReadFrames(1), ":00000001 VERSION WG;");
    EXPECT_TRUE(port_->ReadUntilQuiet(50).empty());
}

TEST_F(SimTest, ReplyDelayHoldsTheAnswerBack) {
    Start({.identifier = "WG", .replyDelayMs = 120});
    const auto t0 = Clock::now();
    EXPECT_EQ(Ask(1, "VERSION").size(), 1u);
    EXPECT_GE(MsSince(t0), 120);
}

TEST_F(SimTest, SplitAnswersArriveInPiecesAndWhole) {
    Start({.identifier = "VKR433-SAW", .splitParts = 3, .splitGapMs = 60});
    const auto t0 = Clock::now();
    port_->Write(RequestFrame(1, "VERSION"));
    const std::string first = port_->ReadSome(2000);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first.find(';'), std::string::npos) << "the whole answer came in one piece: " << first;
    const std::string all = port_->ReadFrames(1, 3000, first);
    EXPECT_GE(MsSince(t0), 2 * 60);
    EXPECT_EQ(all, ":00000001 VERSION VKR433-SAW;\r\n");
}

TEST_F(SimTest, PauseInsideAnAnswer) {
    Start({.identifier = "VKR900-15", .pauseInsideMs = 150});
    const auto t0 = Clock::now();
    port_->Write(RequestFrame(1, "VERSION"));
    const std::string first = port_->ReadSome(2000);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.find(';'), std::string::npos);
    const std::string all = port_->ReadFrames(1, 3000, first);
    // The rest comes the pause after the first piece, which comes no earlier than the
    // request (timed from there, a test that reads the first piece late does not shorten it).
    EXPECT_GE(MsSince(t0), 150);
    EXPECT_EQ(FramesIn(all), std::vector<std::string>{":00000001 VERSION VKR900-15;"});
}

TEST_F(SimTest, GarbageBetweenFramesNeverLooksLikeAFrame) {
    Start({.identifier = "VKR900-12", .garbage = true});
    port_->Write(RequestFrame(1, "VERSION") + RequestFrame(2, "VERSION"));
    std::string got = port_->ReadFrames(2);
    auto frames = FramesIn(got);
    ASSERT_EQ(frames.size(), 2u);
    const size_t firstColon = got.find(':');
    ASSERT_NE(firstColon, std::string::npos);
    EXPECT_GT(firstColon, 0u) << "no garbage before the first answer";
    const std::string between = got.substr(got.find(';') + 1, got.rfind(':') - got.find(';') - 1);
    EXPECT_GT(between.size(), 2u) << "no garbage besides CR LF between the answers";
    EXPECT_EQ(frames[1], ":00000002 VERSION VKR900-12;");
}

TEST_F(SimTest, SilentReaderRecordsButNeverAnswers) {
    Start({.identifier = "VKR900-15", .silent = true});
    port_->Write(RequestFrame(1, "VERSION") + RequestFrame(2, "KELM_EPC_INVENTORY_TIME 20 5 15"));
    ASSERT_TRUE(sim_->waitForRequests(2, 2000));
    EXPECT_TRUE(port_->ReadUntilQuiet(150).empty());
    EXPECT_EQ(sim_->answersSent(), 0u);
}

// What the program sees of a hang-up: POLLHUP, a read of 0 bytes or EIO, and the port gone.
void ExpectHungUp(PtyClient& port, const std::string& portPath) {
    pollfd p{port.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char c;
    EXPECT_LE(::read(port.fd(), &c, 1), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(portPath)));
}

TEST_F(SimTest, HangUpAtOnce) {
    Start({.identifier = "VKR900-15"});
    EXPECT_EQ(Ask(1, "VERSION").size(), 1u);
    sim_->hangUp();
    EXPECT_TRUE(sim_->hungUp());
    ExpectHungUp(*port_, dir_.path() + "/COM3");
    // Nothing further is sent; the test's own sends are dropped quietly.
    sim_->sendAnswer("OK");
    EXPECT_EQ(sim_->answersSent(), 1u);
}

TEST_F(SimTest, HangUpAfterTheSecondRequestIsAnswered) {
    Start({.identifier = "VKR433-16", .hangUpAfterRequests = 2});
    EXPECT_EQ(Ask(1, "VERSION").size(), 1u);
    EXPECT_FALSE(sim_->hungUp());
    port_->Write(RequestFrame(2, "VERSION"));
    // Read until the line hangs up (the wait ends there).
    std::string got = port_->ReadUntilQuiet(2000);
    EXPECT_EQ(FramesIn(got), std::vector<std::string>{":00000002 VERSION VKR433-16;"});
    EXPECT_TRUE(sim_->hungUp());
    ExpectHungUp(*port_, sim_->portPath());
}

TEST_F(SimTest, TestSendsRawBytesAndAnswersOfItsOwn) {
    Start({.identifier = "VKR900-15"});
    EXPECT_EQ(Ask(41, "VERSION").size(), 1u);
    const std::string raw("\x00\x7F:x\xFF;", 6);
    sim_->sendRaw(raw);
    EXPECT_EQ(port_->ReadFrames(1), raw);
    sim_->sendAnswer("STOP_INVENTORY");
    EXPECT_EQ(port_->ReadFrames(1), ":00000041 STOP_INVENTORY;\r\n");
    EXPECT_EQ(sim_->answers(),
              (std::vector<std::string>{":00000041 VERSION VKR900-15;", ":00000041 STOP_INVENTORY;"}));
}

TEST_F(SimTest, FloodCountsExactlyTheAnswersWritten) {
    Start({.identifier = "VKR900-15", .tagCount = 3});
    sim_->startFlood();
    std::string got;
    while (FramesIn(got).size() < 2000) {
        std::string more = port_->ReadSome(2000);
        ASSERT_FALSE(more.empty());
        got += more;
    }
    sim_->stopFlood();
    got += port_->ReadUntilQuiet(100);
    auto frames = FramesIn(got);
    EXPECT_EQ(frames.size(), sim_->answersSent());
    // Whole cycles of the configured field.
    for (size_t i = 0; i + 4 <= frames.size(); i += 4) {
        ExpectCycle(frames, i, "00000000",
                    {"INV 1 2000 3008000000000001 -50", "INV 1 2000 3008000000000002 -53",
                     "INV 1 2000 3008000000000003 -56"});
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
}

// --- Several readers, private directories -----------------------------------------------

TEST(ReaderSimDirectory, SeveralReadersShareADirectoryAndCleanUp) {
    std::string dirPath;
    {
        TempPortDir dir;
        dirPath = dir.path();
        ASSERT_TRUE(std::filesystem::is_directory(dirPath));
        {
            ReaderSim a({.identifier = "VKR900-15", .portDir = dir.path(), .comNumber = 1});
            ReaderSim b({.identifier = "VKR433-SAW", .portDir = dir.path(), .comNumber = 2});
            EXPECT_NE(a.slavePath(), b.slavePath());
            PtyClient pa(dir.path() + "/COM1");
            PtyClient pb(dir.path() + "/COM2");
            pb.Write(RequestFrame(1, "VERSION"));
            pa.Write(RequestFrame(1, "VERSION"));
            EXPECT_EQ(FramesIn(pa.ReadFrames(1)), std::vector<std::string>{":00000001 VERSION VKR900-15;"});
            EXPECT_EQ(FramesIn(pb.ReadFrames(1)), std::vector<std::string>{":00000001 VERSION VKR433-SAW;"});
        }
        EXPECT_TRUE(std::filesystem::is_empty(dirPath));
    }
    EXPECT_FALSE(std::filesystem::exists(dirPath));
}

TEST(ReaderSimDirectory, AMissingDirectoryIsAnError) {
    EXPECT_THROW(ReaderSim({.portDir = "/nonexistent/readerdesk-ports"}), std::system_error);
}

} // namespace
} // namespace rd::sim
