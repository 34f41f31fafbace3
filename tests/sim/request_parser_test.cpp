// The simulator's request cutter: frames are found whole, byte for byte, in whatever
// pieces and among whatever garbage they arrive.
#include "sim/request_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd::sim {
namespace {

struct ParseCase {
    const char* name;
    std::vector<std::string> pieces; // fed one after the other
    std::vector<std::string> raw;    // the requests expected, address byte through ";"
    std::vector<std::string> commands;
};

std::string Bytes(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

class RequestParserTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(RequestParserTable, CutsTheExpectedRequests) {
    const ParseCase& c = GetParam();
    RequestParser parser;
    std::vector<std::string> raw;
    std::vector<std::string> commands;
    for (const std::string& piece : c.pieces) {
        for (const Request& r : parser.Feed(piece)) {
            raw.push_back(Bytes(r.raw));
            commands.push_back(r.command);
        }
    }
    EXPECT_EQ(raw, c.raw);
    EXPECT_EQ(commands, c.commands);
}

const std::string kVersion = std::string("\x01:00000001 VERSION;");

std::vector<std::string> OneByteEach(const std::string& s) {
    std::vector<std::string> out;
    for (char ch : s) {
        out.emplace_back(1, ch);
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestParserTable,
    ::testing::Values(
        ParseCase{"Whole", {kVersion}, {kVersion}, {"VERSION"}},
        ParseCase{"ByteByByte", OneByteEach(kVersion), {kVersion}, {"VERSION"}},
        ParseCase{"TwoInOneWrite",
                  {kVersion + std::string("\x02:00000002 EPC_STOP;")},
                  {kVersion, std::string("\x02:00000002 EPC_STOP;")},
                  {"VERSION", "EPC_STOP"}},
        ParseCase{"GarbageAround", {"xx;;\r\n" + kVersion + "zz"}, {kVersion}, {"VERSION"}},
        // A stray ":" without counter digits is not a frame start.
        ParseCase{"StrayColon", {"a:b:" + kVersion}, {kVersion}, {"VERSION"}},
        // The address byte is binary and may be any value, ":" and digits included.
        ParseCase{"AddressTen",
                  {std::string("\x0A:00000005 POWER_OFF ;")},
                  {std::string("\x0A:00000005 POWER_OFF ;")},
                  {"POWER_OFF "}},
        ParseCase{"AddressIsADigit", {"7:00000001 VERSION;"}, {"7:00000001 VERSION;"}, {"VERSION"}},
        // Blanks and colons inside a command are its own (a clock setting, the console).
        ParseCase{"ColonsAndBlanksInCommand",
                  {std::string("\x01:00000009 WG_SET_TIME  12:34:56 ;")},
                  {std::string("\x01:00000009 WG_SET_TIME  12:34:56 ;")},
                  {"WG_SET_TIME  12:34:56 "}},
        ParseCase{"EmptyCommand", {std::string("\x01:00000003 ;")}, {std::string("\x01:00000003 ;")}, {""}},
        ParseCase{"NineDigitCounter",
                  {std::string("\x01:100000000 VERSION;")},
                  {std::string("\x01:100000000 VERSION;")},
                  {"VERSION"}},
        // A frame that lost its end is given up when the next one begins.
        ParseCase{"TruncatedThenWhole",
                  {std::string("\x01:00000001 VERS"), std::string("\x01:00000002 VERSION;")},
                  {std::string("\x01:00000002 VERSION;")},
                  {"VERSION"}},
        ParseCase{"NoBlankAfterCounter",
                  {std::string("\x01:00000001VERSION;") + kVersion},
                  {kVersion},
                  {"VERSION"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RequestParser, GivesUpAFrameThatNeverEnds) {
    RequestParser parser;
    EXPECT_TRUE(parser.Feed(std::string("\x01:00000001 ") + std::string(RequestParser::kMaxCommand + 10, 'A'))
                    .empty());
    auto got = parser.Feed(kVersion);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(Bytes(got[0].raw), kVersion);
    EXPECT_EQ(got[0].counter, "00000001");
}

} // namespace
} // namespace rd::sim
