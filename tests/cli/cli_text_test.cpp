// The command line taken apart, and the JSON text of the result lines.
#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/inventory_tally.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

namespace rd::cli {
namespace {

TEST(CliOptions, CommandLinesThatAreRight) {
    struct Case {
        std::vector<std::string> args;
        Command command;
        std::vector<std::string> words;
        std::string port;
        int addr;
        int waitMs;
        bool json;
    } cases[] = {
        {{"scan"}, Command::Scan, {}, "", 1, 1000, false},
        {{"--port", "tcp://10.0.0.7:2000", "scan", "--json"},
         Command::Scan,
         {},
         "tcp://10.0.0.7:2000",
         1,
         1000,
         true},
        {{"send", "KELM_CURR_RD_DATA_EPC", "0001"},
         Command::Send,
         {"KELM_CURR_RD_DATA_EPC", "0001"},
         "",
         1,
         1000,
         false},
        // Options anywhere; a word with one dash, or any word after "--", is a word.
        {{"send", "SET_ATT_OUT", "-5", "--addr", "9", "--wait", "0"},
         Command::Send,
         {"SET_ATT_OUT", "-5"},
         "",
         9,
         0,
         false},
        {{"--json", "send", "--", "--json", "x"}, Command::Send, {"--json", "x"}, "", 1, 1000, true},
        {{"send", "POWER_OFF", ""}, Command::Send, {"POWER_OFF", ""}, "", 1, 1000, false},
    };
    for (const Case& c : cases) {
        const ParseResult r = ParseCommandLine(c.args);
        SCOPED_TRACE(c.args.front());
        ASSERT_EQ(r.error, "");
        EXPECT_EQ(r.options.command, c.command);
        EXPECT_EQ(r.options.words, c.words);
        EXPECT_EQ(r.options.port, c.port);
        EXPECT_EQ(r.options.addr, c.addr);
        EXPECT_EQ(r.options.waitMs, c.waitMs);
        EXPECT_EQ(r.options.json, c.json);
    }

    const ParseResult inv =
        ParseCommandLine({"inventory", "--seconds", "2.5", "--q", "7", "--c", "", "--n", "100"});
    ASSERT_EQ(inv.error, "");
    EXPECT_DOUBLE_EQ(inv.options.seconds, 2.5);
    EXPECT_EQ(inv.options.cycles, 0);
    // The start parameters as typed, an empty one included.
    EXPECT_EQ(inv.options.q, "7");
    EXPECT_EQ(inv.options.c, "");
    EXPECT_EQ(inv.options.n, "100");
}

TEST(CliOutput, JsonLinesEscapeWhatJsonCannotHoldAsItIs) {
    struct Case {
        std::string bytes; // an answer text: one character per received byte
        std::string json;  // the string as it stands in the JSON line
    } cases[] = {
        {":1 OK;", ":1 OK;"},
        {":1 \"a\\b\";", ":1 \\\"a\\\\b\\\";"},
        {std::string(":\x10\x1f\t\r\n;"), ":\\u0010\\u001f\\t\\r\\n;"},
        {":\xB0\xFF;", ":\xC2\xB0\xC3\xBF;"}, // Latin-1 bytes as UTF-8
        // DEL and the C1 controls (U+0080 to U+009F) are controls too.
        {":\x7F\x80\x9B\x9F\xA0;", ":\\u007f\\u0080\\u009b\\u009f\xC2\xA0;"},
    };
    for (const Case& c : cases) {
        const std::string line = JsonLine().str("text", Latin1ToUtf8(c.bytes)).num("n", -3).text();
        EXPECT_EQ(line, "{\"text\":\"" + c.json + "\",\"n\":-3}");
        QJsonParseError e{};
        const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(line), &e);
        ASSERT_EQ(e.error, QJsonParseError::NoError) << line;
        EXPECT_EQ(d.object().value(QStringLiteral("text")).toString(),
                  QString::fromLatin1(c.bytes.data(), qsizetype(c.bytes.size())));
    }
}

TEST(CliOutput, TerminalTextEscapesEveryControlCharacter) {
    struct Case {
        std::string bytes; // an answer text: one character per received byte
        std::string shown;
    } cases[] = {
        {":1 OK;", ":1 OK;"},
        {":\x1b[2J\x1b]0;title\x07;", ":\\x1b[2J\\x1b]0;title\\x07;"},
        {std::string(":\x00\t\r\n\x1f;", 7), ":\\x00\\x09\\x0d\\x0a\\x1f;"},
        {":\x7F\x80\x9B\x9F;", ":\\x7f\\x80\\x9b\\x9f;"},
        // A backslash is doubled, so that "\x1b" as sent stays apart from an escaped ESC.
        {":a\\x1b;", ":a\\\\x1b;"},
        {":\xA0\xB0\xFF;", ":\xC2\xA0\xC2\xB0\xC3\xBF;"}, // printable Latin-1 as UTF-8
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalText(c.bytes), c.shown) << c.shown;
}

TEST(CliOptions, WordsThatAreNotUtf8AreRefusedAndNamed) {
    struct Case {
        std::vector<std::string> args;
        const char* error; // "" for none
    } cases[] = {
        {{"send", "SET_NAME", "Gr\xC3\xBC\xC3\x9F", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}, ""},
        {{"send", "A\xFF"}, "the word A\\xff is not UTF-8 text"},
        {{"send", "ok", "\xC3"}, "the word \\xc3 is not UTF-8 text"},                      // cut short
        {{"send", "\xC0\xAF"}, "the word \\xc0\\xaf is not UTF-8 text"},                   // overlong "/"
        {{"send", "\xED\xA0\x80"}, "the word \\xed\\xa0\\x80 is not UTF-8 text"},          // a surrogate
        {{"send", "\xF4\x90\x80\x80"}, "the word \\xf4\\x90\\x80\\x80 is not UTF-8 text"}, // past U+10FFFF
        {{"send", "\xC3\xA9\x80"}, "the word \xC3\xA9\\x80 is not UTF-8 text"},
        {{"inventory", "--q", "2\xB0"}, "the word 2\\xb0 is not UTF-8 text"},
        {{"inventory", "--c", "\x80"}, "the word \\x80 is not UTF-8 text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(ParseCommandLine(c.args).error, c.error);
    }
}

TEST(CliOptions, TcpPortNamesMustBeWhole) {
    const struct {
        const char* port;
        bool good;
    } cases[] = {
        {"tcp://10.0.0.7:2000", true},   {"TCP://reader.local:4001", true},
        {"tcp://[::1]:2000", true},      {"COM3", true},
        {"tcp://10.0.0.7", false},       {"tcp://10.0.0.7:", false},
        {"tcp://:2000", false},          {"tcp://10.0.0.7:0", false},
        {"tcp://10.0.0.7:65536", false}, {"tcp://[::1:2000", false},
        {"tcp://10.0.0.7:20x0", false},
    };
    for (const auto& c : cases) {
        const ParseResult r = ParseCommandLine({"scan", "--port", c.port});
        EXPECT_EQ(r.error, c.good ? "" : std::string("bad value for --port: ") + c.port);
    }
}

// The stamps are the local time (a zone 5:30 ahead of UTC, so that UTC would show), to the
// millisecond, as the window writes them.
TEST(CliOutput, StampsAreTheLocalClockToTheMillisecond) {
    const QByteArray oldTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "XST-05:30");
    tzset();
    // The zone's own clock, from UTC.
    const qint64 offset = 5 * 3600 + 30 * 60;
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(offset);
    const std::string stamp = StampNow();
    const std::string time = TimeOfDayNow();
    const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(offset);
    if (hadTz)
        qputenv("TZ", oldTz);
    else
        qunsetenv("TZ");
    tzset();

    const auto text = [](const QDateTime& t, const char* format) {
        return t.toString(QString::fromLatin1(format)).toStdString();
    };
    ASSERT_EQ(stamp.size(), 23u) << stamp;
    EXPECT_GE(stamp, text(before, "yyyy-MM-dd hh:mm:ss.zzz"));
    EXPECT_LE(stamp, text(after, "yyyy-MM-dd hh:mm:ss.zzz"));
    ASSERT_EQ(time.size(), 12u) << time;
    EXPECT_GE(time, text(before, "hh:mm:ss.zzz"));
    EXPECT_LE(time, text(after, "hh:mm:ss.zzz"));
}

TEST(CliInventory, TagsByTheirEpcWithTheLatestAntennaAndSignal) {
    InventoryTally t;
    for (const char* a :
         {":1 START_INVENTORY;", ":1 INV 1 3000 E1 -50;", ":1 INV 2 3000 E2 -60;", ":1 START_INVENTORY;",
          ":1 INV 2 3000 E1 -44;", ":1 INV 1 3000;", ":1 STOP_INVENTORY;", "1 INV 1 3000 E3 -1;"})
        t.take(a);
    EXPECT_EQ(t.cycles(), 2u);
    EXPECT_EQ(t.reads(), 4u);
    ASSERT_EQ(t.tags().size(), 3u);
    EXPECT_EQ(t.tags()[0].epc, "E1");
    EXPECT_EQ(t.tags()[0].reads, 2u);
    EXPECT_EQ(t.tags()[0].antenna, "2");
    EXPECT_EQ(t.tags()[0].signal, "-44");
    EXPECT_EQ(t.tags()[1].epc, "E2");
    EXPECT_EQ(t.tags()[2].epc, "") << "an answer without word 5 counts under no EPC";
}

} // namespace
} // namespace rd::cli
