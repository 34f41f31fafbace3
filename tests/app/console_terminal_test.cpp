// The console's Enter and history, and the TRM page's switches: the pieces on their own
// (history, round trips, how a kept line is shown) and the window against a simulated
// 900 MHz reader on COM1.
#include "sim_window.h"

#include "app/window/console_history.h"
#include "app/window/terminal_lines.h"
#include "kit/settings.h"
#include "link/frames.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

namespace rd::testing {
namespace {

// --- The history on its own -------------------------------------------------------------

struct HistoryCase {
    const char* name;
    QStringList loaded;
    QStringList added;
    QStringList expected;
};

void PrintTo(const HistoryCase& c, std::ostream* os) {
    *os << c.name;
}

class History : public ::testing::TestWithParam<HistoryCase> {};

TEST_P(History, NewestFirstOnceEachCapped) {
    ConsoleHistory h;
    h.load(GetParam().loaded);
    for (const QString& c : GetParam().added)
        h.add(c);
    EXPECT_EQ(h.items(), GetParam().expected);
}

QStringList numbered(int from, int to) { // "C<to>" .. "C<from>", newest first
    QStringList out;
    for (int i = to; i >= from; --i)
        out << QStringLiteral("C%1").arg(i);
    return out;
}

QStringList reversed(QStringList l) {
    std::reverse(l.begin(), l.end());
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, History,
    ::testing::Values(
        HistoryCase{"NewestFirst", {}, {"A", "B", "C"}, {"C", "B", "A"}},
        HistoryCase{"RepeatMovesToTop", {}, {"A", "B", "A"}, {"A", "B"}},
        HistoryCase{"BlanksKeptAsTyped", {}, {"GET_SLOT 3", "GET_SLOT 3 "}, {"GET_SLOT 3 ", "GET_SLOT 3"}},
        HistoryCase{"EmptyAndBlankNotKept", {"A"}, {"", "   "}, {"A"}},
        HistoryCase{"CapKeepsNewest", {}, reversed(numbered(1, 60)), numbered(11, 60)},
        HistoryCase{"LoadDropsRepeatsBlanksAndExtra",
                    QStringList{"A", "", "A", "B"} + numbered(1, 60),
                    {},
                    QStringList{"A", "B"} + numbered(13, 60)}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Round trips on their own -------------------------------------------------------------

TEST(RoundTrips, KnownForTenSecondsAfterTheRequest) {
    struct Case {
        const char* counter;
        int64_t at;
        int64_t expected;
    } const cases[] = {
        {"00000002", 1012, 12}, {"00000002", 11000, 10000}, {"00000003", 1500, 500},
        {"00000004", 1500, -1}, {"00000002", 11001, -1},    {"00000003", 11600, -1},
    };
    RoundTrips t;
    t.noteRequest("00000002", 1000);
    t.noteRequest("00000003", 1000 + 0);
    t.noteRequest("00000003", 1000); // the same counter again: its latest time counts
    for (const Case& c : cases)
        EXPECT_EQ(t.since(c.counter, c.at), c.expected) << c.counter << " at " << c.at;
    EXPECT_EQ(t.size(), 0); // all of them older than 10 s by now
}

// --- How a kept line is shown ---------------------------------------------------------------

TEST(TerminalShow, SwitchesChangeOnlyWhatIsShown) {
    const QString answer = "<< 00 3A 30 30 30 30 30 30 30 32 20 4F 4B 3B";
    const QString controlBytes = "<< 00 3A 41 09 7F 42 3B";
    const QString request = ">> 01 3A 30 30 30 30 30 30 30 32 20 47 45 54 5F 41 44 43 20 3B";
    const QString message = "!! COM1: connection lost";
    const int64_t at = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 67)).toMSecsSinceEpoch();
    using S = TerminalSwitches;
    struct Case {
        QString line;
        S s;
        int64_t roundTrip;
        QString expected;
    } const cases[] = {
        {answer, S{}, 12, answer},
        {request, S{}, -1, request},
        {message, S{}, -1, message},
        {answer, S{true, S::Hex, false}, -1, "03:04:05.067 " + answer},
        {message, S{true, S::Text, true}, -1, "03:04:05.067 " + message},
        {answer, S{false, S::Text, false}, -1, "<< :00000002 OK;"},
        {answer, S{false, S::HexAndText, false}, -1, answer + " | :00000002 OK;"},
        {controlBytes, S{false, S::Text, false}, -1, "<< :A..B;"},
        {request, S{false, S::Text, true}, -1, request},
        {answer, S{false, S::Hex, true}, 12, answer + " +12 ms"},
        {answer, S{false, S::Hex, true}, -1, answer},
        {answer, S{true, S::Text, true}, 0, "03:04:05.067 << :00000002 OK; +0 ms"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalLines::show(c.line, at, c.roundTrip, c.s), c.expected) << c.expected.toStdString();
}

TEST(TerminalShow, KeepsAsManyLinesAsTheTerminal) {
    TerminalLines t(3);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(t.add(QStringLiteral("!! %1").arg(i), 0, 0), QStringLiteral("!! %1").arg(i));
    EXPECT_EQ(t.size(), 3);
    EXPECT_EQ(t.shown(), QStringList({"!! 3", "!! 4", "!! 5"}));
}

// --- The window -----------------------------------------------------------------------------

class Console : public SimWindowTest {
  protected:
    void SetUp() override {
        SimWindowTest::SetUp();
        forgetHistory();
    }
    void TearDown() override {
        SimWindowTest::TearDown();
        SetSettingsEnabled(true);
        forgetHistory();
    }
    static void forgetHistory() {
        if (auto s = OpenSettings())
            s->remove(ConsoleHistory::kKey);
    }
    sim::ReaderSim& connect() {
        sim::ReaderSim& r = addReader("VKR900-15", 1);
        scan();
        EXPECT_TRUE(window().connected());
        return r;
    }
    QComboBox* console() { return control<QComboBox>("ComboBoxUTIL_COMMAND"); }
    QStringList items() {
        QStringList out;
        for (int i = 0; i < console()->count(); ++i)
            out << console()->itemText(i);
        return out;
    }
    // Types command into the console and presses Enter; true once the reader has it.
    bool enter(sim::ReaderSim& r, const QString& command) {
        const std::size_t seen = r.requestCount();
        console()->setEditText(command);
        const int32_t counter = window().connection() ? window().connection()->commandCounter() : 0;
        QTest::keyClick(console()->lineEdit(), Qt::Key_Return);
        const bool sentOnce =
            !window().connection() || window().connection()->commandCounter() == counter + 1;
        return sentOnce && r.waitForRequests(seen + 1, 2000) && r.commands().back() == command.toStdString();
    }
};

TEST_F(Console, EnterSendsAndTheCommandGoesAboveThePresets) {
    sim::ReaderSim& r = connect();
    for (const char* c : {"GET_SLOT 3", "MRF49_SET_FSK 2", "GET_SLOT 3", "VERSION"})
        ASSERT_TRUE(enter(r, c)) << c;
    // Newest first, once each; a preset sent is not repeated above the presets.
    EXPECT_EQ(items(), QStringList({"GET_SLOT 3", "MRF49_SET_FSK 2"}) + ConsolePresets());
    EXPECT_EQ(console()->currentText(), "VERSION");
    EXPECT_EQ(OpenSettings()->value(ConsoleHistory::kKey).toStringList(),
              QStringList({"GET_SLOT 3", "MRF49_SET_FSK 2"}));
}

TEST_F(Console, HistoryIsReadBackByTheNextWindow) {
    sim::ReaderSim& r = connect();
    ASSERT_TRUE(enter(r, "GET_SLOT 5"));
    ASSERT_TRUE(enter(r, "GET_SLOT 6"));
    destroyWindow();
    EXPECT_EQ(items(), QStringList({"GET_SLOT 6", "GET_SLOT 5"}) + ConsolePresets());
    EXPECT_EQ(console()->currentText(), "VERSION");
}

TEST_F(Console, WithoutSettingsTheHistoryStaysInTheWindow) {
    if (auto s = OpenSettings())
        s->setValue(ConsoleHistory::kKey, QStringList{"KEPT"});
    SetSettingsEnabled(false);
    sim::ReaderSim& r = connect();
    EXPECT_EQ(items(), ConsolePresets()); // nothing read
    ASSERT_TRUE(enter(r, "GET_SLOT 7"));
    EXPECT_EQ(items(), QStringList{"GET_SLOT 7"} + ConsolePresets());
    SetSettingsEnabled(true);
    EXPECT_EQ(OpenSettings()->value(ConsoleHistory::kKey).toStringList(),
              QStringList{"KEPT"}); // nothing written
}

// The net address is one byte of the frame: a box text outside 0 to 255 is refused with a
// message naming the box, and nothing goes out.
struct AddressCase {
    const char* name;
    const char* text;
    int wireByte; // -1: refused
};

class AddressBox : public Console, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(AddressBox, OnlyWhatFitsTheFrameGoesOut) {
    const AddressCase& c = GetParam();
    sim::ReaderSim& r = connect();
    const std::size_t before = r.requestCount();
    const int sendLines = memo("MemoUTIL_SEND")->count();
    control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText(c.text);
    console()->setEditText("VERSION");
    click("BitBtnUTIL_SEND_COMMAND");
    if (c.wireByte < 0) {
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors.first().contains("ComboBoxUTIL_ADDR")) << errors.first().toStdString();
        EXPECT_TRUE(errors.first().contains(QString(c.text).trimmed())) << errors.first().toStdString();
        EXPECT_EQ(memo("MemoUTIL_SEND")->count(), sendLines);
        EXPECT_FALSE(r.waitForRequests(before + 1, 300));
        return;
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
    ASSERT_TRUE(r.waitForRequests(before + 1, 2000));
    EXPECT_EQ(r.requests().back().at(0), c.wireByte);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddressBox,
    ::testing::Values(AddressCase{"Refused999", "999", -1}, AddressCase{"Refused256", "256", -1},
                      AddressCase{"RefusedMinus1", "-1", -1}, AddressCase{"RefusedHex100", "$100", -1},
                      AddressCase{"Sent255", "255", 255}, AddressCase{"Sent0", "0", 0},
                      AddressCase{"Sent07", "07", 7}),
    [](const ::testing::TestParamInfo<AddressCase>& i) { return std::string(i.param.name); });

// A traffic log that cannot be written is told once, in the terminal and on the UTIL page, and
// ends there; the window goes on.
TEST_F(Console, TrafficLogThatCannotBeWrittenIsToldOnce) {
    sim::ReaderSim& r = connect();
    window().setTrafficLog("/dev/full");
    EXPECT_FALSE(window().trafficLogFailed());
    ASSERT_TRUE(enter(r, "GET_SLOT 1"));
    ASSERT_TRUE(enter(r, "GET_SLOT 2"));
    ASSERT_TRUE(routeUntil([&] { return window().answersRouted() >= 2; }));
    EXPECT_TRUE(window().trafficLogFailed());
    const QString told = "!! traffic log /dev/full cannot be written";
    auto count = [&](const char* m) { return int(memo(m)->lines()->lines().filter(told).size()); };
    EXPECT_EQ(count("MemoTERMINAL"), 1);
    EXPECT_EQ(count("MemoUTIL_SEND"), 1);
    EXPECT_EQ(r.commands().back(), "GET_SLOT 2");
}

TEST_F(Console, NothingRememberedWithoutAReader) {
    console()->setEditText("GET_SLOT 3");
    QTest::keyClick(console()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(items(), ConsolePresets());
}

class Terminal : public Console {
  protected:
    QStringList shown() { return memo("MemoTERMINAL")->lines()->lines(); }
    // Sends command and routes until its answer is on the terminal.
    void exchange(sim::ReaderSim& r, const QString& command) {
        ASSERT_TRUE(enter(r, command));
        const QString answer =
            ":" + QString::fromStdString(IntToStr8(window().connection()->commandCounter())) + " OK;";
        ASSERT_TRUE(routeUntil([&] { return has(memo("MemoUTIL_REC"), answer); }));
    }
};

TEST_F(Terminal, SwitchesShowTheKeptLinesAnew) {
    sim::ReaderSim& r = connect();
    exchange(r, "GET_ADC ");
    const QStringList composed = shown();
    const QString answer = composed.last();
    ASSERT_TRUE(answer.startsWith("<< 00 3A")) << answer.toStdString();
    const QString answerText =
        ":" + QString::fromStdString(IntToStr8(window().connection()->commandCounter())) + " OK;";

    control<QCheckBox>("CheckBoxTRM_TIME")->setChecked(true);
    const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (.*)$");
    ASSERT_EQ(shown().size(), composed.size());
    for (int i = 0; i < composed.size(); ++i) {
        const auto m = stamp.match(shown()[i]);
        ASSERT_TRUE(m.hasMatch()) << shown()[i].toStdString();
        EXPECT_EQ(m.captured(1), composed[i]);
    }
    auto* form = control<QComboBox>("ComboBoxTRM_FORM");
    form->setCurrentText("text");
    EXPECT_TRUE(shown().last().endsWith(" << " + answerText)) << shown().last().toStdString();
    form->setCurrentText("hex + text");
    EXPECT_TRUE(shown().last().endsWith(" " + answer + " | " + answerText)) << shown().last().toStdString();
    // The next exchange is shown as the switches say, and everything as composed once they
    // are back at their defaults.
    exchange(r, "GET_ADC ");
    EXPECT_TRUE(stamp.match(shown().last()).hasMatch());
    EXPECT_TRUE(shown().last().contains(" | :")) << shown().last().toStdString();
    control<QCheckBox>("CheckBoxTRM_TIME")->setChecked(false);
    form->setCurrentText("hex");
    EXPECT_EQ(shown().mid(0, composed.size()), composed);
    EXPECT_FALSE(shown().join('\n').contains(" | ")) << shown().join('\n').toStdString();
}

TEST_F(Terminal, RoundTripOnlyForTheCounterOfARequest) {
    sim::ReaderSim& r = connect();
    control<QCheckBox>("CheckBoxTRM_ROUND_TRIP")->setChecked(true);
    exchange(r, "GET_ADC ");
    const QRegularExpression trip(" \\+\\d+ ms$");
    EXPECT_TRUE(trip.match(shown().last()).hasMatch()) << shown().last().toStdString();
    EXPECT_FALSE(trip.match(shown()[shown().size() - 2]).hasMatch()); // the request
    const int before = memo("MemoTERMINAL")->count();
    r.sendRaw(":99999999 OK;");
    ASSERT_TRUE(routeUntil([&] { return memo("MemoTERMINAL")->count() > before; }));
    EXPECT_EQ(shown().last(), "<< 00 3A 39 39 39 39 39 39 39 39 20 4F 4B 3B");
}

} // namespace
} // namespace rd::testing
