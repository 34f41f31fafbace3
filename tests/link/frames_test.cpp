// Wire frames: counter text, token extractor, buffer search, request composition and the
// answer cutter, byte for byte.
#include "link/frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(IntToStr8, PadsToEightAndNeverCuts) {
    const struct {
        int32_t value;
        const char* text;
    } rows[] = {
        {0, "00000000"},          {1, "00000001"},
        {12345678, "12345678"},   {99999999, "99999999"},
        {100000000, "100000000"}, {2147483647, "2147483647"},
        {-5, "000000-5"},         {-2147483647 - 1, "-2147483648"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(IntToStr8(r.value), r.text) << r.value;
}

TEST(GetAnswerWord, WordsOfAnAnswer) {
    const struct {
        const char* answer;
        int n;
        const char* word;
    } rows[] = {
        {":00000012 START_INVENTORY;", 1, "00000012"},
        {":00000012 START_INVENTORY;", 2, "START_INVENTORY"},
        {":00000012 START_INVENTORY;", 3, ""},
        {":00000012 START_INVENTORY;", 0, ""},
        {":00000012 START_INVENTORY;", -1, ""},
        {":00000012   INV    5;", 3, "5"},
        {":00000012 INV 12:34;", 3, "12:34"},
        {":00000012 INV 12:34;", 4, "34"},
        {":00000012 INV 12:34;", 5, ""},
        {":00000012 INV ;", 3, ""},
        {":;", 1, ""},
        {":::a;", 1, "a"},
        {":00000012 INV 1 2;", 4, "2"},
        {"00000012 START_INVENTORY;", 1, "error"},
        {"00000012 START_INVENTORY;", 0, "error"},
        {":00000012 START_INVENTORY", 2, "error"},
        {":00000012 START_INVENTORY", 9, "error"},
        {"", 1, "error"},
        {":", 1, "error"},
        {";", 1, "error"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(GetAnswerWord(r.n, r.answer), r.word) << '"' << r.answer << "\" n=" << r.n;
}

TEST(GetAnswerWord, HighBytesAreOrdinaryCharacters) {
    const std::string answer = ":1 \xC0\xFF;";
    EXPECT_EQ(GetAnswerWord(2, answer), "\xC0\xFF");
}

TEST(GetAnswerWord, CutFrameWithoutSemicolonIsAnError) {
    const std::string cut = ":" + std::string(1023, 'A');
    for (int n : {0, 1, 2})
        EXPECT_EQ(GetAnswerWord(n, cut), "error");
}

TEST(FindStrInBuf, SearchesOnlyTheCountedBytes) {
    const std::string data = "xxVKR900-153yy";
    const auto* buf = reinterpret_cast<const uint8_t*>(data.data());
    const struct {
        int length;
        const char* pattern;
        bool found;
    } rows[] = {
        {14, "VKR900-15", true},   {14, "VKR900-153", true},
        {12, "VKR900-153", true},  // ends exactly at the last counted byte
        {11, "VKR900-153", false}, // would need one byte beyond the length
        {14, "vkr900-153", false}, // case-sensitive
        {14, "VKR433", false},     {0, "", true},
        {0, "x", false},           {3, "xxVK", false},
        {-1, "x", false},          {-1, "", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(FindStrInBuf(buf, r.length, std::string_view(r.pattern)), r.found)
            << r.pattern << " in " << r.length;
}

TEST(FindStrInBuf, WideCharactersCompareByTheirLowByte) {
    const auto buf = Bytes({0x41, 0x10, 0x42});
    EXPECT_TRUE(FindStrInBuf(buf.data(), 3, std::u16string_view(u"A\u0410B")));
    EXPECT_FALSE(FindStrInBuf(buf.data(), 3, std::u16string_view(u"A\u0411B")));
}

TEST(ComposeRequest, FramesAndEchoLines) {
    const struct {
        const char* what;
        int addr;
        int32_t counter;
        std::u16string command;
        std::vector<uint8_t> bytes;
        const char* sendLog;
    } rows[] = {
        {"worked example", 1, 1, u"VERSION",
         Bytes({0x01, 0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x31, 0x20, 0x56, 0x45, 0x52, 0x53,
                0x49, 0x4F, 0x4E, 0x3B}),
         "01:00000001 VERSION;"},
        {"nine-digit counter", 1, 100000000, u"A",
         Bytes({0x01, 0x3A, 0x31, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x20, 0x41, 0x3B}),
         "01:100000000 A;"},
        {"empty command", 2, 7, u"",
         Bytes({0x02, 0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x37, 0x20, 0x3B}), "02:00000007 ;"},
        {"trailing blank", 1, 3, u"POWER_OFF ",
         Bytes({0x01, 0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x33, 0x20,
                0x50, 0x4F, 0x57, 0x45, 0x52, 0x5F, 0x4F, 0x46, 0x46, 0x20, 0x3B}),
         "01:00000003 POWER_OFF ;"},
        {"address 10", 10, 1, u"X",
         Bytes({0x0A, 0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x31, 0x20, 0x58, 0x3B}),
         "0A:00000001 X;"},
        {"address 300 sends its low byte", 300, 1, u"X",
         Bytes({0x2C, 0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x31, 0x20, 0x58, 0x3B}),
         "12C:00000001 X;"},
        {"Cyrillic narrowed", 1, 1, u"\u0410\u00E9",
         Bytes({0x01, 0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x31, 0x20, 0x10, 0xE9, 0x3B}),
         "01:00000001 \x10\xE9;"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const RequestFrame f = ComposeRequest(r.addr, r.counter, r.command);
        EXPECT_EQ(f.bytes, r.bytes);
        EXPECT_EQ(f.sendLogLine, r.sendLog);
        std::string terminal = ">>";
        for (uint8_t b : r.bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", b);
            terminal += hex;
        }
        EXPECT_EQ(f.terminalLine, terminal);
    }
    EXPECT_EQ(ComposeRequest(1, 1, u"VERSION").terminalLine,
              ">> 01 3A 30 30 30 30 30 30 30 31 20 56 45 52 53 49 4F 4E 3B");
}

TEST(ComposeRequest, CommandThatOverflowsTheBlockIsRefused) {
    EXPECT_EQ(MaxCommandLength(1), 989u);
    EXPECT_EQ(MaxCommandLength(100000000), 988u);

    const RequestFrame longest = ComposeRequest(1, 1, std::u16string(989, u'A'));
    EXPECT_EQ(longest.bytes.size(), static_cast<std::size_t>(kFrameBlockSize));

    const struct {
        int32_t counter;
        std::size_t length;
        const char* message;
    } refused[] = {
        {1, 990, "command too long: 990 characters, at most 989"},
        {100000000, 989, "command too long: 989 characters, at most 988"},
        {1, 5000, "command too long: 5000 characters, at most 989"},
    };
    for (const auto& r : refused) {
        try {
            ComposeRequest(1, r.counter, std::u16string(r.length, u'A'));
            ADD_FAILURE() << r.length << " characters were accepted";
        } catch (const CommandTooLong& e) {
            EXPECT_STREQ(e.what(), r.message);
        }
    }
}

TEST(AnswerTerminalLine, PrefixThenEveryByte) {
    const auto bytes = Bytes({0x3A, 0x4F, 0x4B, 0x3B, 0xFF});
    EXPECT_EQ(AnswerTerminalLine(bytes.data(), 5), "<< 00 3A 4F 4B 3B FF");
    EXPECT_EQ(AnswerTerminalLine(bytes.data(), 0), "<< 00");
}

// Feeds a byte stream to the cutter, releasing every held frame at once, and returns the
// frames in order; the frame still being collected at the end is left out.
std::vector<std::string> Cut(const std::string& stream, int32_t* finalMode = nullptr) {
    uint8_t buf[kMaxAnswerSize + 1] = {};
    int32_t count = 0;
    int32_t mode = AnswerCutter::Hunting;
    AnswerCutter cutter(buf, count, mode);
    std::vector<std::string> frames;
    for (char c : stream) {
        if (cutter.feed(static_cast<uint8_t>(c))) {
            EXPECT_EQ(mode, AnswerCutter::Held);
            EXPECT_EQ(buf[0], ':');
            frames.emplace_back(reinterpret_cast<const char*>(buf), count);
            cutter.release();
        }
    }
    if (finalMode)
        *finalMode = mode;
    return frames;
}

TEST(AnswerCutter, CutsFramesOutOfTheStream) {
    const std::string long1024 = ":" + std::string(1023, 'A');
    const struct {
        const char* what;
        std::string stream;
        std::vector<std::string> frames;
    } rows[] = {
        {"two answers", ":1 A;:2 B;", {":1 A;", ":2 B;"}},
        {"CR LF between answers", ":1 A;\r\n:2 B;\r\n", {":1 A;", ":2 B;"}},
        {"CR LF inside abandons the answer", ":1 A\r\nB;:2 C;", {":2 C;"}},
        {"a low byte inside abandons it", std::string(":1 A") + '\0' + ":2 B;", {":2 B;"}},
        {"second colon inside", ":1 T 12:34;", {":1 T 12:34;"}},
        {"bytes before the first colon", "xyz;; 123:OK;", {":OK;"}},
        {"shortest frame", ":;", {":;"}},
        {"1024 bytes without a semicolon", long1024 + "BBB;:2 C;", {long1024, ":2 C;"}},
        {"a frame of exactly 1024 ending in a semicolon",
         ":" + std::string(1022, 'A') + ";",
         {":" + std::string(1022, 'A') + ";"}},
        {"high bytes are content", ":\x80\xFF;", {":\x80\xFF;"}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Cut(r.stream), r.frames) << r.what;
}

TEST(AnswerCutter, ColonAfterTheCutStartsTheNextFrame) {
    // The 1024-byte frame ends at its 1024th byte; the tail is hunted through, so a colon in
    // it starts a new frame.
    const std::string stream = ":" + std::string(1023, 'A') + "X:tail;";
    const auto frames = Cut(stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].size(), 1024u);
    EXPECT_EQ(frames[1], ":tail;");
}

TEST(AnswerCutter, NothingIsExaminedWhileHeld) {
    uint8_t buf[kMaxAnswerSize + 1] = {};
    int32_t count = 0;
    int32_t mode = AnswerCutter::Hunting;
    AnswerCutter cutter(buf, count, mode);
    for (char c : std::string(":A;"))
        cutter.feed(static_cast<uint8_t>(c));
    ASSERT_EQ(mode, AnswerCutter::Held);
    for (char c : std::string(":B;\r"))
        EXPECT_FALSE(cutter.feed(static_cast<uint8_t>(c)));
    EXPECT_EQ(mode, AnswerCutter::Held);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), count), ":A;");
}

TEST(AnswerCutter, PartialFrameStaysCollecting) {
    int32_t mode = -1;
    EXPECT_TRUE(Cut(":1 partial", &mode).empty());
    EXPECT_EQ(mode, AnswerCutter::Collecting);
    EXPECT_TRUE(Cut("noise", &mode).empty());
    EXPECT_EQ(mode, AnswerCutter::Hunting);
}

} // namespace
} // namespace rd
