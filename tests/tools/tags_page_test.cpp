// The tag page on the real window: its controls, a table that follows the answers at
// most ten times a second, CLEAR, the CSV file, and every inventory of a simulated reader,
// whichever page started it.
#include "window_fixture.h"

#include "tools/tag_table.h"
#include "tools/tags_page.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

namespace rd::testing {
namespace {

QString Tag(int n, const char* signal = "-61") {
    return QStringLiteral(":00000001 INV 1 3000 300800000000000%1 %2;").arg(n).arg(QLatin1String(signal));
}
const QString kCycle = QStringLiteral(":00000001 START_INVENTORY;");
const QString kNothing = "Tags: 0   Reads: 0   Cycles: 0   Rate: 0.0 reads/s   Elapsed: 0.0 s";

class TagsPageTest : public WindowTest {
  protected:
    TagsPage& page() { return *form().pageTAGS; }
    QTableView* view() { return c<QTableView>("TableTAGS"); }
    QAbstractItemModel* shown() { return view()->model(); }
    void answer(const QString& a) { page().TagsAnswer(a); }
    // The table's rows as shown, cells joined by "|".
    QStringList rows() {
        QStringList out;
        for (int r = 0; r < shown()->rowCount(); ++r) {
            QStringList cells;
            for (int k = 0; k < shown()->columnCount(); ++k)
                cells << shown()->index(r, k).data().toString();
            out << cells.join('|');
        }
        return out;
    }
    bool waitForRows(int n) {
        return QTest::qWaitFor([&] { return shown()->rowCount() == n; }, 3000);
    }
};

TEST_F(TagsPageTest, ThePageFollowsKamazWithItsControls) {
    QTabWidget* pages = form().PageControl1;
    const int at = pages->indexOf(&page());
    EXPECT_EQ(pages->tabText(at), "TAGS");
    EXPECT_EQ(pages->widget(at - 1)->objectName(), "TabSheetKAMAZ");
    EXPECT_EQ(page().objectName(), "TabSheetTAGS");
    EXPECT_EQ(c<QPushButton>("BitBtnTAGS_CLEAR")->text(), "CLEAR");
    EXPECT_EQ(c<QPushButton>("BitBtnTAGS_CSV")->text(), "CSV");
    EXPECT_EQ(text("LabelTAGS_SUMMARY"), kNothing);
    QStringList headers;
    for (int k = 0; k < shown()->columnCount(); ++k)
        headers << shown()->headerData(k, Qt::Horizontal).toString();
    EXPECT_EQ(headers,
              QStringList({"EPC", "Antenna", "Reads", "Signal", "Min", "Max", "First seen", "Last seen"}));
    EXPECT_TRUE(view()->isSortingEnabled());
}

// However fast answers come, the table and the summary change at most about ten times a
// second; each change brings every answer taken before it.
TEST_F(TagsPageTest, TheTableFollowsTheAnswersAtMostTenTimesASecond) {
    int announcements = 0;
    QObject::connect(shown(), &QAbstractItemModel::rowsInserted, [&] { ++announcements; });
    QObject::connect(shown(), &QAbstractItemModel::dataChanged, [&] { ++announcements; });
    QObject::connect(shown(), &QAbstractItemModel::layoutChanged, [&] { ++announcements; });
    answer(kCycle);
    answer(Tag(1));
    answer(Tag(2, "-50"));
    EXPECT_EQ(shown()->rowCount(), 0);
    EXPECT_EQ(text("LabelTAGS_SUMMARY"), kNothing);
    ASSERT_TRUE(waitForRows(2));
    EXPECT_EQ(rows(), QStringList({"3008000000000001|1|1|-61|-61|-61|12:34:56.000|12:34:56.000",
                                   "3008000000000002|1|1|-50|-50|-50|12:34:56.000|12:34:56.000"}));
    // The window's clock stands still: every read is in the last second.
    EXPECT_EQ(text("LabelTAGS_SUMMARY"),
              "Tags: 2   Reads: 2   Cycles: 1   Rate: 2.0 reads/s   Elapsed: 0.0 s");

    announcements = 0;
    QElapsedTimer t;
    t.start();
    int taken = 0;
    while (t.elapsed() < 500) {
        answer(Tag(1 + taken % 3));
        ++taken;
        QCoreApplication::processEvents();
    }
    const qint64 spent = t.elapsed();
    ASSERT_GT(taken, 100);
    EXPECT_GE(announcements, 1);
    // Each refresh announces at most three things (a new row, two column spans).
    EXPECT_LE(announcements, 3 * (spent / 100 + 2)) << taken << " answers in " << spent << " ms";
    const QString all =
        QStringLiteral("Tags: 3   Reads: %1   Cycles: 1   Rate: %1.0 reads/s   Elapsed: 0.0 s")
            .arg(taken + 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return text("LabelTAGS_SUMMARY") == all; }, 3000))
        << text("LabelTAGS_SUMMARY").toStdString();
    EXPECT_EQ(shown()->rowCount(), 3);
}

TEST_F(TagsPageTest, ClearEmptiesTheTableAndTheFigures) {
    answer(kCycle);
    answer(Tag(1));
    answer(Tag(2));
    ASSERT_TRUE(waitForRows(2));
    answer(Tag(3)); // not shown yet
    click("BitBtnTAGS_CLEAR");
    EXPECT_EQ(shown()->rowCount(), 0);
    EXPECT_EQ(text("LabelTAGS_SUMMARY"), kNothing);
    QTest::qWait(250);
    EXPECT_EQ(shown()->rowCount(), 0);
    EXPECT_EQ(text("LabelTAGS_SUMMARY"), kNothing);
    answer(Tag(2, "-70"));
    ASSERT_TRUE(waitForRows(1));
    EXPECT_EQ(rows(), QStringList{"3008000000000002|1|1|-70|-70|-70|12:34:56.000|12:34:56.000"});
    EXPECT_EQ(text("LabelTAGS_SUMMARY"),
              "Tags: 1   Reads: 1   Cycles: 0   Rate: 1.0 reads/s   Elapsed: 0.0 s");
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "(missing)";
    return f.readAll();
}

// The file holds a header row and every row in the order shown, also rows that came
// after the last refresh; the times as ISO 8601 date-times.
TEST_F(TagsPageTest, CsvSavesTheTableInTheOrderShown) {
    QTemporaryDir dir;
    savePath = dir.filePath("tags.csv");
    answer(Tag(1));
    answer(Tag(2, "-50"));
    answer(Tag(2, "-40"));
    ASSERT_TRUE(waitForRows(2));
    view()->sortByColumn(TagTable::kReads, Qt::DescendingOrder);
    answer(Tag(3, "weak"));
    click("BitBtnTAGS_CSV");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(dialogs, QStringList{"SaveDialogTAGS|" + FixedTimeText().replace(':', '_') + "-TAGS.csv"});
    const QString seen = QDateTime(QDate(2024, 5, 6), FixedTime()).toUTC().toString(Qt::ISODateWithMs);
    const QStringList lines = QString::fromLatin1(ReadAll(savePath)).split("\r\n");
    ASSERT_EQ(lines.size(), 5) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "EPC,Antenna,Reads,Signal,Min,Max,First seen,Last seen");
    const char* const expected[] = {"3008000000000002,1,2,-40,-50,-40", "3008000000000001,1,1,-61,-61,-61",
                                    "3008000000000003,1,1,,,"};
    for (int i = 0; i < 3; ++i) {
        const QStringList f = lines[1 + i].split(',');
        ASSERT_EQ(f.size(), 8) << lines[1 + i].toStdString();
        EXPECT_EQ(f.mid(0, 6).join(','), QString::fromLatin1(expected[i]));
        for (const QString& time : f.mid(6)) {
            const QDateTime at = QDateTime::fromString(time, Qt::ISODateWithMs);
            EXPECT_TRUE(at.isValid() && time.contains('T') && time.contains(".000")) << time.toStdString();
            EXPECT_EQ(at.toUTC().toString(Qt::ISODateWithMs), seen) << time.toStdString();
        }
    }
    EXPECT_EQ(lines[4], "");
}

TEST_F(TagsPageTest, CsvCancelledOrUnwritableWritesNothingAndSaysWhy) {
    QTemporaryDir dir;
    answer(Tag(1));
    click("BitBtnTAGS_CSV"); // savePath empty: the user cancelled
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    savePath = dir.filePath("gone/tags.csv");
    click("BitBtnTAGS_CSV");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Cannot create file")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(savePath)) << errors[0].toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    // The page goes on.
    answer(Tag(2));
    EXPECT_TRUE(waitForRows(2));
}

// The simulated reader's three tags, whichever page starts the inventory: three rows,
// their reads rising with the cycles.
TEST_F(TagsPageTest, EveryInventoryOfASimulatedReaderFillsTheTable) {
    struct Case {
        const char* start;
        bool varySignal;
    };
    for (const Case& k : {Case{"BitBtnLOG_INV_START", false}, Case{"BitBtnKAMAZ_START_INV", true}}) {
        SCOPED_TRACE(k.start);
        window.reset();
        sim.reset();
        sim::Options o;
        o.tagCount = 3;
        o.cyclePeriodMs = 20;
        o.varySignal = k.varySignal;
        connectedTo(o);
        click(k.start);
        ASSERT_TRUE(waitForRows(3));
        auto readsOf = [&](int row) { return shown()->index(row, TagTable::kReads).data().toInt(); };
        const int before = readsOf(0) + readsOf(1) + readsOf(2);
        // Rising: two more cycles, shown.
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return readsOf(0) + readsOf(1) + readsOf(2) >= before + 6; }, 10000));
        form().StopInventoryRun();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return form().StopPending() == 0 && !sim->inventoryRunning(); }, 10000));
        const TagTable& table = page().table();
        // The window's clock stands still: every read is in the last second.
        const QString summary =
            QStringLiteral("Tags: 3   Reads: %1   Cycles: %2   Rate: %1.0 reads/s   Elapsed: 0.0 s")
                .arg(table.reads())
                .arg(table.cycles());
        EXPECT_TRUE(QTest::qWaitFor([&] { return text("LabelTAGS_SUMMARY") == summary; }, 3000))
            << text("LabelTAGS_SUMMARY").toStdString();

        QStringList epcs;
        int reads = 0;
        for (int r = 0; r < 3; ++r) {
            epcs << shown()->index(r, TagTable::kEpc).data().toString();
            reads += readsOf(r);
            const double signal = shown()->index(r, TagTable::kSignal).data().toDouble();
            const double min = shown()->index(r, TagTable::kMin).data().toDouble();
            const double max = shown()->index(r, TagTable::kMax).data().toDouble();
            EXPECT_TRUE(min <= signal && signal <= max) << min << " " << signal << " " << max;
            EXPECT_EQ(min < max, k.varySignal) << min << " " << max;
        }
        EXPECT_EQ(epcs, QStringList({"3008000000000001", "3008000000000002", "3008000000000003"}));
        // Every cycle brought the three tags.
        EXPECT_EQ(table.reads(), 3 * table.cycles());
        EXPECT_EQ(table.reads(), reads);
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    }
}

// Each start through the window begins the summary anew; its end leaves it standing however
// long the pause, and the totals since CLEAR go on below the table.
TEST_F(TagsPageTest, TheSummaryFollowsEachRunOfTheWindow) {
    sim::Options o;
    o.tagCount = 3;
    o.cyclePeriodMs = 20;
    connectedTo(o);
    qint64 offsetMs = 0;
    SetClockForTesting([&] { return QDateTime(QDate(2024, 5, 6), FixedTime()).addMSecs(offsetMs); });
    const TagTable& table = page().table();
    click("BitBtnLOG_INV_START");
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.runReads() >= 6; }, 10000));
    offsetMs += 2000;
    form().StopInventoryRun();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form().StopPending() == 0 && !sim->inventoryRunning(); }, 10000));
    offsetMs += 100000;
    QTest::qWait(250);
    const QString first = text("LabelTAGS_SUMMARY");
    EXPECT_TRUE(first.startsWith("Tags: 3   Reads: ")) << first.toStdString();
    EXPECT_TRUE(first.endsWith("Rate: 0.0 reads/s   Elapsed: 2.0 s")) << first.toStdString();

    click("BitBtnLOG_INV_START");
    EXPECT_EQ(text("LabelTAGS_SUMMARY"), kNothing);
    const int64_t before = table.reads();
    EXPECT_EQ(
        text("LabelTAGS_TOTAL"),
        QStringLiteral("since CLEAR: Tags: 3   Reads: %1   Cycles: %2").arg(before).arg(table.cycles()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.runReads() >= 6; }, 10000));
    form().StopInventoryRun();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form().StopPending() == 0 && !sim->inventoryRunning(); }, 10000));
    const QString second =
        QStringLiteral("Tags: 3   Reads: %1   Cycles: %2   Rate: %1.0 reads/s   Elapsed: 0.0 s")
            .arg(table.runReads())
            .arg(table.runCycles());
    EXPECT_TRUE(QTest::qWaitFor([&] { return text("LabelTAGS_SUMMARY") == second; }, 3000))
        << text("LabelTAGS_SUMMARY").toStdString() << " / " << second.toStdString();
    EXPECT_EQ(table.reads(), before + table.runReads());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

} // namespace
} // namespace rd::testing
