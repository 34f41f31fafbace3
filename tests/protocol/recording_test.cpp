// Recordings read back: the traffic log and readerdesk-cli monitor output, lines as the two
// programs write them, and the damaged or foreign files that must be refused by line.
#include "protocol/recording.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace rd::proto {
namespace {

using K = RecordedKind;

// What a test expects of one line read.
struct Want {
    K kind;
    int line;
    int64_t ms;
    std::string bytes;
    std::string command = {};
};

int64_t At(int64_t days, int h, int m, int s, int ms) {
    return (((days * 24 + h) * 60 + m) * 60 + s) * 1000 + ms;
}

// 2026-12-10 is day 20797 after 1970-01-01.
constexpr int64_t kDay = 20797;

TEST(Recording, ReadsEachFormAsItIsWritten) {
    struct Case {
        const char* name;
        std::string text;
        RecordingForm form;
        std::vector<Want> lines;
    } cases[] = {
        {"traffic log of the command line",
         "2026-12-10 19:34:30.331 Port COM3 check..\n"
         "2026-12-10 19:34:30.349 >> 01 3A 30 30 30 30 30 30 30 31 20 56 45 52 53 49 4F 4E 3B\n"
         "2026-12-10 19:34:30.451 << 00 3A 30 31 20 56 45 52 53 49 4F 4E 20 58 3B 0D 0A\n"
         "\n"
         "2026-12-10 19:34:30.462 >> 05 3A 34 32 20 45 50 43 5F 53 54 4F 50 20 20 3B\r\n"
         "2026-12-10 19:34:30.470 << 00\n",
         RecordingForm::TrafficLog,
         {{K::Message, 1, At(kDay, 19, 34, 30, 331), "Port COM3 check.."},
          {K::Request, 2, At(kDay, 19, 34, 30, 349), ":00000001 VERSION;", "VERSION"},
          {K::Answer, 3, At(kDay, 19, 34, 30, 451), ":01 VERSION X;\r\n"},
          {K::Request, 5, At(kDay, 19, 34, 30, 462), ":42 EPC_STOP  ;", "EPC_STOP  "}}},
        {"monitor text with stderr beside it, escapes and Latin-1",
         "VKR900-15 found COM3: baud=115200 parity=N data=8 stop=2\n"
         "05:17:13.037 :00000002 START_INVENTORY;\n"
         "05:17:13.038 :2 INV \\x1b\\\\ \xC3\xA9;\n"
         "COM3: connection lost\n",
         RecordingForm::Monitor,
         {{K::Message, 1, 0, "VKR900-15 found COM3: baud=115200 parity=N data=8 stop=2"},
          {K::Answer, 2, At(0, 5, 17, 13, 37), ":00000002 START_INVENTORY;"},
          {K::Answer, 3, At(0, 5, 17, 13, 38), ":2 INV \x1b\\ \xE9;"},
          {K::Message, 4, At(0, 5, 17, 13, 38), "COM3: connection lost"}}},
        {"monitor hex across midnight",
         "23:59:59.990 3A 31 3B\n"
         "23:59:59.980 3a 32 3b\n" // a little back: the same day
         "00:00:00.010 3A 33 3B\n",
         RecordingForm::Monitor,
         {{K::Answer, 1, At(0, 23, 59, 59, 990), ":1;"},
          {K::Answer, 2, At(0, 23, 59, 59, 980), ":2;"},
          {K::Answer, 3, At(1, 0, 0, 0, 10), ":3;"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Recording r = ParseRecording(c.text);
        EXPECT_EQ(r.form, c.form);
        ASSERT_EQ(r.lines.size(), c.lines.size());
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            const RecordedLine& got = r.lines[i];
            const Want& want = c.lines[i];
            EXPECT_EQ(got.kind, want.kind) << i;
            EXPECT_EQ(got.line, want.line) << i;
            EXPECT_EQ(got.ms, want.ms) << i;
            EXPECT_EQ(got.bytes, want.bytes) << i;
            EXPECT_EQ(got.command, want.command) << i;
        }
    }
    const Recording r = ParseRecording(cases[0].text);
    EXPECT_EQ(r.lines[1].address, 1);
    EXPECT_EQ(r.lines[1].counter, "00000001");
    EXPECT_EQ(r.lines[3].address, 5);
    ASSERT_NE(IdentifierReply(r), nullptr);
    EXPECT_EQ(IdentifierReply(r)->line, 3);
    EXPECT_EQ(IdentifierReply(ParseRecording(cases[1].text)), nullptr);
}

TEST(Recording, RefusesForeignAndDamagedFilesByLine) {
    struct Case {
        std::string text;
        int line;
        const char* why;
    } cases[] = {
        {"", 1, "no line begins with a time"},
        {"hello\nworld\n", 1, "no line begins with a time"},
        {std::string("PNG\n\x89PNG\0\0\n", 11), 2, "binary data"},
        {"2026-12-10 19:34:30.331 ok\nno time\n", 2, "no date and time in front (\"no time\")"},
        {"2026-12-10 19:34:30.331 ok\n19:34:30.331 :1 OK;\n", 2, "a time without a date"},
        {"19:34:30.331 :1 OK;\n2026-12-10 19:34:30.331 ok\n", 2, "a date in front in monitor output"},
        {"2026-12-10 19:34:30.331 << 00 3A 3\n", 1, "an answer whose bytes are not hexadecimal"},
        {"2026-12-10 19:34:30.331 << 00 3A  30\n", 1, "an answer whose bytes are not hexadecimal"},
        {"2026-12-10 19:34:30.331 << 003A\n", 1, "an answer whose bytes are not hexadecimal"},
        {"2026-12-10 19:34:30.331 >> 01 3G\n", 1, "a request whose bytes are not hexadecimal"},
        {"2026-12-10 19:34:30.331 >> 01 3A 31 3B\n", 1, "a request that is not a frame"},
        {"2026-12-10 19:34:30.331 >> 01 3A 41 20 42 3B\n", 1, "a request that is not a frame"},
        {"2026-12-10 19:34:30.331 >> 01\n", 1, "a request that is not a frame"},
        {"x\n19:34:30.331 :1 OK;\n19:34:30.331 :1 \\q;\n", 3, "neither an answer"},
        {"19:34:30.331 :1 \xE2\x82\xAC;\n", 1, "neither an answer"}, // beyond Latin-1
        {"19:34:30.331 :1 \xC3;\n", 1, "neither an answer"},         // cut short
        {"19:34:30.331 OK\n", 1, "neither an answer"},
        {"19:34:30.331 :1 OK;\n24:00:00.000 :1 OK;\n", 2,
         "a time that cannot be read (\"24:00:00.000 :1 OK;\")"},
        {"2026-13-10 19:34:30.331 x\n", 1, "a time that cannot be read"},
        {"2026-12-10 19:34:30.331 x\n2026-12-10 19:34:30\n", 2, "a time that cannot be read"},
        {"19:34:30.331 :1 OK;\n19:34:30.331 " + std::string(70000, '3') + "\n", 2, "longer than"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        try {
            ParseRecording(c.text);
            ADD_FAILURE() << "read without a word";
        } catch (const RecordingError& e) {
            EXPECT_EQ(e.line(), c.line);
            EXPECT_EQ(std::string(e.what()).rfind("line " + std::to_string(c.line) + ": ", 0), 0u)
                << e.what();
            EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
        }
    }
    try {
        ReadRecording("/nonexistent/readerdesk/recording.log");
        ADD_FAILURE() << "a file that is not there was read";
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.line(), 0);
        EXPECT_STREQ(e.what(), "No such file or directory");
    }
}

TEST(Recording, FramesAndCounters) {
    struct Case {
        std::string bytes;
        std::string frame;
        std::string word2;
        std::string renumbered;
    } cases[] = {
        {"\x7F#:00000002 INV 1 2000 3008 -50;\r\n", ":00000002 INV 1 2000 3008 -50;", "INV",
         ":00000007 INV 1 2000 3008 -50;"},
        {":1  STOP_INVENTORY;", ":1  STOP_INVENTORY;", "STOP_INVENTORY", ":00000007  STOP_INVENTORY;"},
        {":1;:2 OK;", ":1;", "", ":00000007;"},
        {":;", ":;", "", ":;"},
        {"no frame", "", "", ""},
        {":open", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(AnswerFrame(c.bytes), c.frame);
        EXPECT_EQ(FrameWord(2, AnswerFrame(c.bytes)), c.word2);
        EXPECT_EQ(WithCounter(AnswerFrame(c.bytes), "00000007"), c.renumbered);
    }
}

} // namespace
} // namespace rd::proto
