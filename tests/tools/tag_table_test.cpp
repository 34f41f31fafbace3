// The tag table without a window: rows and figures from answer sequences on a simulated
// clock, the rate over the last second, the order of every column, and the file form.
#include "tools/tag_table.h"
#include "tools/tag_table_model.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace rd {
namespace {

// 2024-05-06 12:34:56.000 local time, the simulated clock's start.
int64_t Start() {
    return QDateTime(QDate(2024, 5, 6), QTime(12, 34, 56)).toMSecsSinceEpoch();
}

// A table on a clock that the test moves.
struct Clocked {
    int64_t now = Start();
    TagTable table{[this] { return now; }};
};

QString Inv(const char* antenna, const char* epc, const char* signal) {
    return QStringLiteral(":00000001 INV %1 3000 %2 %3;").arg(antenna, epc, signal);
}
const QString kCycle = QStringLiteral(":00000001 START_INVENTORY;");

QStringList Rows(const TagTable& t) {
    QStringList out;
    for (int r = 0; r < t.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < TagTable::kColumnCount; ++c)
            cells << t.text(r, c);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

TEST(TagTable, RowsAndCountsFromAnswerSequences) {
    struct Case {
        const char* what;
        std::vector<QString> answers; // one every 7 ms
        QStringList rows;             // EPC|Antenna|Reads|Signal|Min|Max|First seen|Last seen
        int reads;
        int cycles;
    };
    const Case cases[] = {
        {"one tag read three times, the signal moving",
         {Inv("1", "E200A1", "-61"), Inv("1", "E200A1", "-55"), Inv("1", "E200A1", "-70")},
         {"E200A1|1|3|-70|-70|-55|12:34:56.000|12:34:56.014"},
         3,
         0},
        {"a word 6 that is no number empties Signal; Min and Max keep the numbers",
         {Inv("1", "E200A1", "-61.5"), Inv("1", "E200A1", "weak"), Inv("1", "E200B2", "x1"),
          QStringLiteral(":00000001 INV 1 3000 E200C3;")},
         {"E200A1|1|2||-61.5|-61.5|12:34:56.000|12:34:56.007", "E200B2|1|1||||12:34:56.014|12:34:56.014",
          "E200C3|1|1||||12:34:56.021|12:34:56.021"},
         4,
         0},
        {"two antennas: one row per EPC, the antenna of the latest read",
         {Inv("1", "E200A1", "-60"), Inv("2", "E200B2", "-50"), Inv("2", "E200A1", "-58")},
         {"E200A1|2|2|-58|-60|-58|12:34:56.000|12:34:56.014",
          "E200B2|2|1|-50|-50|-50|12:34:56.007|12:34:56.007"},
         3,
         0},
        {"cycles counted, other answers left out",
         {kCycle, Inv("1", "E200A1", "-61"), QStringLiteral(":00000001 STOP_INVENTORY;"),
          QStringLiteral(":00000001 UID EEEE-FEDCBAF0;"), QStringLiteral(":00000001 INV 1 3000;"),
          QStringLiteral("00000001 INV 1 3000 E200B2 -61;"),
          QStringLiteral(":00000001 VERSION INV 1 E200B2 -61;"), kCycle, Inv("1", "E200A1", "-61"), kCycle},
         {"E200A1|1|2|-61|-61|-61|12:34:56.007|12:34:56.056"},
         2,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clocked k;
        for (const QString& a : c.answers) {
            k.table.answer(a);
            k.now += 7;
        }
        EXPECT_EQ(Rows(k.table), c.rows);
        EXPECT_EQ(k.table.tags(), c.rows.size());
        EXPECT_EQ(k.table.reads(), c.reads);
        EXPECT_EQ(k.table.cycles(), c.cycles);
    }
}

// Reads at 0, 100, ... 900 ms after a cycle at -200 ms; the rate counts the reads of the
// second before the clock's now, the elapsed time runs from the cycle to the last read.
TEST(TagTable, RateOverTheLastSecondAndElapsedTime) {
    Clocked k;
    k.now = Start() - 200;
    k.table.answer(kCycle);
    for (int i = 0; i < 10; ++i) {
        k.now = Start() + 100 * i;
        k.table.answer(Inv("1", i % 2 ? "E200A1" : "E200B2", "-61"));
    }
    struct Case {
        int64_t at; // ms after Start()
        const char* summary;
    };
    const Case cases[] = {
        {900, "Tags: 2   Reads: 10   Cycles: 1   Rate: 10.0 reads/s   Elapsed: 1.1 s"},
        {999, "Tags: 2   Reads: 10   Cycles: 1   Rate: 10.0 reads/s   Elapsed: 1.1 s"},
        {1000, "Tags: 2   Reads: 10   Cycles: 1   Rate: 9.0 reads/s   Elapsed: 1.1 s"},
        {1450, "Tags: 2   Reads: 10   Cycles: 1   Rate: 5.0 reads/s   Elapsed: 1.1 s"},
        {1899, "Tags: 2   Reads: 10   Cycles: 1   Rate: 1.0 reads/s   Elapsed: 1.1 s"},
        {1900, "Tags: 2   Reads: 10   Cycles: 1   Rate: 0.0 reads/s   Elapsed: 1.1 s"},
        // A clock set back shows the rate at the last read.
        {-5000, "Tags: 2   Reads: 10   Cycles: 1   Rate: 10.0 reads/s   Elapsed: 1.1 s"},
    };
    for (const Case& c : cases) {
        k.now = Start() + c.at;
        EXPECT_EQ(k.table.summary(), QString::fromLatin1(c.summary)) << c.at;
    }
    EXPECT_EQ(TagTable(nullptr).summary(),
              "Tags: 0   Reads: 0   Cycles: 0   Rate: 0.0 reads/s   Elapsed: 0.0 s");
}

// Many reads in one millisecond, and a long run: the rate stays the count of the last second.
TEST(TagTable, RateOfAFloodAndOfALongRun) {
    Clocked k;
    for (int i = 0; i < 500; ++i)
        k.table.answer(Inv("1", "E200A1", "-61"));
    EXPECT_DOUBLE_EQ(k.table.rate(), 500.0);
    for (int ms = 1; ms <= 5000; ++ms) {
        k.now = Start() + ms;
        k.table.answer(Inv("1", "E200A1", "-61"));
        k.table.answer(Inv("1", "E200A1", "-61"));
    }
    EXPECT_DOUBLE_EQ(k.table.rate(), 2000.0);
    EXPECT_EQ(k.table.reads(), 10500);
    EXPECT_EQ(k.table.elapsedSeconds(), 5.0);
}

TEST(TagTable, ClearEmptiesRowsAndFiguresAndStartsOver) {
    Clocked k;
    k.table.answer(kCycle);
    k.table.answer(Inv("1", "E200A1", "-61"));
    k.now += 3000;
    k.table.answer(Inv("1", "E200A1", "-40"));
    k.table.clear();
    EXPECT_EQ(k.table.rowCount(), 0);
    EXPECT_EQ(k.table.rowOf("E200A1"), -1);
    EXPECT_EQ(k.table.summary(), "Tags: 0   Reads: 0   Cycles: 0   Rate: 0.0 reads/s   Elapsed: 0.0 s");
    EXPECT_EQ(k.table.takeChanged(), std::make_pair(-1, -1));
    // A tag read again is new: its first read, its own minimum, a fresh elapsed time.
    k.now += 500;
    k.table.answer(Inv("1", "E200A1", "-50"));
    EXPECT_EQ(Rows(k.table), QStringList{"E200A1|1|1|-50|-50|-50|12:34:59.500|12:34:59.500"});
    EXPECT_EQ(k.table.summary(), "Tags: 1   Reads: 1   Cycles: 0   Rate: 1.0 reads/s   Elapsed: 0.0 s");
}

// The order of every column through the sorting model: numbers by value (10 after 9), a
// cell without a number first, equal cells in the order the tags were first seen, both ways.
// The summary is the current run's: from its start, kept after its end until the next
// start; idle time between runs counts for nothing. The totals since CLEAR go on.
TEST(TagTable, TheSummaryFollowsTheCurrentRun) {
    Clocked k;
    struct Step {
        const char* what;
        int64_t after; // ms on the clock before the step
        std::function<void(TagTable&)> act;
        const char* summary;
        const char* total;
    };
    const Step steps[] = {
        {"answers before any start: the run is all since CLEAR", 0,
         [](TagTable& t) {
             t.answer(kCycle);
             t.answer(Inv("1", "E200A1", "-61"));
             t.answer(Inv("1", "E200B2", "-61"));
         },
         "Tags: 2   Reads: 2   Cycles: 1   Rate: 2.0 reads/s   Elapsed: 0.0 s",
         "since CLEAR: Tags: 2   Reads: 2   Cycles: 1"},
        {"a start after 100 s idle", 100000, [](TagTable& t) { t.startRun(); },
         "Tags: 0   Reads: 0   Cycles: 0   Rate: 0.0 reads/s   Elapsed: 0.0 s",
         "since CLEAR: Tags: 2   Reads: 2   Cycles: 1"},
        {"a tag listed before, read in the run", 1500,
         [](TagTable& t) {
             t.answer(kCycle);
             t.answer(Inv("1", "E200A1", "-61"));
             t.answer(Inv("1", "E200A1", "-61"));
         },
         "Tags: 1   Reads: 2   Cycles: 1   Rate: 2.0 reads/s   Elapsed: 1.5 s",
         "since CLEAR: Tags: 2   Reads: 4   Cycles: 2"},
        {"the end", 500, [](TagTable& t) { t.endRun(); },
         "Tags: 1   Reads: 2   Cycles: 1   Rate: 2.0 reads/s   Elapsed: 2.0 s",
         "since CLEAR: Tags: 2   Reads: 4   Cycles: 2"},
        {"a minute later the figures stand", 60000, [](TagTable&) {},
         "Tags: 1   Reads: 2   Cycles: 1   Rate: 0.0 reads/s   Elapsed: 2.0 s",
         "since CLEAR: Tags: 2   Reads: 4   Cycles: 2"},
        {"the next start", 1000, [](TagTable& t) { t.startRun(); },
         "Tags: 0   Reads: 0   Cycles: 0   Rate: 0.0 reads/s   Elapsed: 0.0 s",
         "since CLEAR: Tags: 2   Reads: 4   Cycles: 2"},
        {"a new tag during it", 300, [](TagTable& t) { t.answer(Inv("1", "E200C3", "-61")); },
         "Tags: 1   Reads: 1   Cycles: 0   Rate: 1.0 reads/s   Elapsed: 0.3 s",
         "since CLEAR: Tags: 3   Reads: 5   Cycles: 2"},
        {"CLEAR during the run: the run counts on from it", 750, [](TagTable& t) { t.clear(); },
         "Tags: 0   Reads: 0   Cycles: 0   Rate: 0.0 reads/s   Elapsed: 0.0 s",
         "since CLEAR: Tags: 0   Reads: 0   Cycles: 0"},
        {"its end after 4 s more", 4000, [](TagTable& t) { t.endRun(); },
         "Tags: 0   Reads: 0   Cycles: 0   Rate: 0.0 reads/s   Elapsed: 4.0 s",
         "since CLEAR: Tags: 0   Reads: 0   Cycles: 0"},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.what);
        k.now += st.after;
        st.act(k.table);
        EXPECT_EQ(k.table.summary().toStdString(), st.summary);
        EXPECT_EQ(k.table.totalText().toStdString(), st.total);
    }
}

TEST(TagTable, EveryColumnSortsByItsValues) {
    Clocked k;
    const QString answers[] = {
        Inv("9", "E3", "-9"),  Inv("10", "E1", "x"),  Inv("2", "E2", "-10"),
        Inv("2", "E4", "-80"), Inv("2", "E3", "-70"), Inv("9", "E4", "-75"),
    };
    for (const QString& a : answers) {
        k.table.answer(a);
        k.now += 10;
    }
    TagTableModel model(k.table);
    model.flush();
    TagSortModel sorted(model);
    struct Case {
        int column;
        const char* ascending; // EPCs in order
        const char* descending;
    };
    const Case cases[] = {
        {TagTable::kEpc, "E1 E2 E3 E4", "E4 E3 E2 E1"},
        {TagTable::kAntenna, "E3 E2 E4 E1", "E1 E4 E3 E2"},
        {TagTable::kReads, "E1 E2 E3 E4", "E3 E4 E1 E2"},
        {TagTable::kSignal, "E1 E4 E3 E2", "E2 E3 E4 E1"},
        {TagTable::kMin, "E1 E4 E3 E2", "E2 E3 E4 E1"},
        {TagTable::kMax, "E1 E4 E2 E3", "E3 E2 E4 E1"},
        {TagTable::kFirstSeen, "E3 E1 E2 E4", "E4 E2 E1 E3"},
        {TagTable::kLastSeen, "E1 E2 E3 E4", "E4 E3 E2 E1"},
    };
    auto order = [&](int column, Qt::SortOrder direction) {
        sorted.sort(column, direction);
        QStringList epcs;
        for (int i = 0; i < sorted.rowCount(); ++i)
            epcs << sorted.index(i, TagTable::kEpc).data().toString();
        return epcs.join(' ');
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TagTable::Headers()[c.column].toStdString());
        EXPECT_EQ(order(c.column, Qt::AscendingOrder), QString::fromLatin1(c.ascending));
        EXPECT_EQ(order(c.column, Qt::DescendingOrder), QString::fromLatin1(c.descending));
    }
}

// The model shows new and changed rows only when flushed, and only in the columns a read
// changes, so that a view sorted by EPC or First seen is not re-sorted by reads.
TEST(TagTable, TheModelShowsChangesWhenFlushed) {
    Clocked k;
    TagTableModel model(k.table);
    TagSortModel sorted(model);
    sorted.sort(TagTable::kReads, Qt::DescendingOrder);
    k.table.answer(Inv("1", "E1", "-61"));
    k.table.answer(Inv("1", "E1", "-61"));
    k.table.answer(Inv("1", "E2", "-61"));
    EXPECT_EQ(sorted.rowCount(), 0);
    model.flush();
    ASSERT_EQ(sorted.rowCount(), 2);
    EXPECT_EQ(sorted.index(0, TagTable::kEpc).data().toString(), "E1");
    k.table.answer(Inv("1", "E2", "-61"));
    k.table.answer(Inv("1", "E2", "-61"));
    k.table.answer(Inv("1", "E3", "-61"));
    EXPECT_EQ(sorted.rowCount(), 2);
    EXPECT_EQ(sorted.index(0, TagTable::kEpc).data().toString(), "E1");

    std::vector<std::pair<int, int>> changed; // first and last column of each announcement
    QObject::connect(
        &model, &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& a, const QModelIndex& b) { changed.emplace_back(a.column(), b.column()); });
    model.flush();
    ASSERT_EQ(sorted.rowCount(), 3);
    EXPECT_EQ(sorted.index(0, TagTable::kEpc).data().toString(), "E2"); // re-sorted: 3 reads
    EXPECT_EQ(sorted.index(0, TagTable::kReads).data().toString(), "3");
    EXPECT_EQ(sorted.index(2, TagTable::kEpc).data().toString(), "E3");
    for (const auto& [first, last] : changed) {
        EXPECT_FALSE(first <= TagTable::kEpc && TagTable::kEpc <= last);
        EXPECT_FALSE(first <= TagTable::kFirstSeen && TagTable::kFirstSeen <= last);
    }
    changed.clear();
    model.flush(); // nothing new
    EXPECT_TRUE(changed.empty());
}

TEST(TagTable, FileLinesWithIsoDateTimes) {
    Clocked k;
    k.now += 789;
    k.table.answer(Inv("1", "E200A1", "-61"));
    k.now += 1000;
    k.table.answer(Inv("2", "E200A1", "-55.5"));
    k.table.answer(Inv("1", "E2,\"x\"", "no"));
    EXPECT_EQ(TagTable::CsvHeader(), "EPC,Antenna,Reads,Signal,Min,Max,First seen,Last seen");
    const QStringList fields = k.table.csvLine(0).split(',');
    ASSERT_EQ(fields.size(), 8) << k.table.csvLine(0).toStdString();
    EXPECT_EQ(fields.mid(0, 6), QStringList({"E200A1", "2", "2", "-55.5", "-61", "-55.5"}));
    const QRegularExpression iso(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)$)"));
    const int64_t seen[] = {Start() + 789, Start() + 1789};
    for (int i = 0; i < 2; ++i) {
        const QString f = fields[6 + i];
        EXPECT_TRUE(iso.match(f).hasMatch()) << f.toStdString();
        EXPECT_EQ(QDateTime::fromString(f, Qt::ISODateWithMs).toMSecsSinceEpoch(), seen[i])
            << f.toStdString();
    }
    // A field with a comma or a quote is quoted, its quotes doubled.
    EXPECT_TRUE(k.table.csvLine(1).startsWith("\"E2,\"\"x\"\"\",1,1,,,,"))
        << k.table.csvLine(1).toStdString();
}

} // namespace
} // namespace rd
