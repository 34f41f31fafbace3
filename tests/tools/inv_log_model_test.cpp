// The inventory log's decisions without a window: which answers are logged, the
// information line on a clock the test sets, the cycle number, the distinct list.
#include "tools/inv_log_model.h"

#include "kit/conv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd {
namespace {

const QString kCycle = QStringLiteral(":00000001 START_INVENTORY;");
QString Tag(int n) {
    return QStringLiteral(":00000001 INV 1 1 300800000000000%1 -61;").arg(n);
}

// A log on a clock the test moves, fed as the page feeds it: what it logs is collected in
// the three lists.
struct Log {
    QDateTime now{QDate(2024, 5, 6), QTime(12, 34, 56)};
    InvLogModel model{[this] { return now; }};
    QStringList all, distinct, info;

    void feed(const QString& answer, bool logOn = true) {
        const InvLogModel::Outcome out = model.answer(answer, logOn);
        if (!out.logged) {
            EXPECT_FALSE(out.distinct);
            EXPECT_TRUE(out.infoLine.isEmpty());
            return;
        }
        all << answer;
        info << out.infoLine;
        if (out.distinct)
            distinct << answer;
    }
};

TEST(InvLogModel, LogsTagAnswersWithTheirCycle) {
    const QString t = TimeText(QTime(12, 34, 56));
    struct Case {
        const char* what;
        std::vector<QString> answers;
        QStringList all, distinct, info;
        int32_t cycles;
    };
    const QString shortTag = QStringLiteral(":00000001 INV 1 1 3008;");
    const QString fourWords = QStringLiteral(":00000001 INV 1 1;");
    const Case cases[] = {
        {"a tag before any cycle",
         {Tag(1)},
         {Tag(1)},
         {Tag(1)},
         {t + "    00000000     3008000000000001  -61"},
         0},
        {"the same tag twice: twice in the full lists, once in the distinct list",
         {kCycle, Tag(1), Tag(1)},
         {Tag(1), Tag(1)},
         {Tag(1)},
         {t + "    00000001     3008000000000001  -61", t + "    00000001     3008000000000001  -61"},
         1},
        {"each line carries the cycle it came in",
         {kCycle, Tag(2), kCycle, Tag(1), Tag(2)},
         {Tag(2), Tag(1), Tag(2)},
         {Tag(2), Tag(1)},
         {t + "    00000001     3008000000000002  -61", t + "    00000002     3008000000000001  -61",
          t + "    00000002     3008000000000002  -61"},
         2},
        {"fewer than six words: the missing fields are empty",
         {shortTag, fourWords},
         {shortTag, fourWords},
         {shortTag, fourWords},
         {t + "    00000000     3008  ", t + "    00000000       "},
         0},
        {"answers without the words logged",
         {kCycle, QStringLiteral(":1 STOP_INVENTORY;"), QStringLiteral("INV"),
          QStringLiteral(":1 inv 1 1 3008;"), QStringLiteral(":1 UID x;"), QString()},
         {},
         {},
         {},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Log log;
        for (const QString& a : c.answers)
            log.feed(a);
        EXPECT_EQ(log.all, c.all);
        EXPECT_EQ(log.distinct, c.distinct);
        EXPECT_EQ(log.info, c.info);
        EXPECT_EQ(log.model.cycles(), c.cycles);
        EXPECT_EQ(log.model.distinct(), c.distinct.size());
        EXPECT_EQ(log.model.capacityText(), QStringLiteral("CAPACITY: %1").arg(c.distinct.size()));
    }
}

TEST(InvLogModel, CyclesAreHexAndCountOnlyWhileLogging) {
    Log log;
    for (int i = 0; i < 17; ++i)
        log.feed(kCycle);
    log.feed(kCycle, false);
    log.feed(Tag(1), false);
    EXPECT_TRUE(log.all.isEmpty());
    log.feed(Tag(1));
    EXPECT_EQ(log.model.cycles(), 17);
    EXPECT_EQ(log.info, QStringList{TimeText(QTime(12, 34, 56)) + "    00000011     3008000000000001  -61"});
    EXPECT_EQ(log.model.distinct(), 1);
}

// The clock is read for each line: the time of day only, to the second.
TEST(InvLogModel, TheLineTakesTheTimeOfItsAnswer) {
    Log log;
    log.now = QDateTime(QDate(2024, 5, 6), QTime(23, 59, 59, 999));
    log.feed(Tag(1));
    log.now = log.now.addMSecs(1);
    log.feed(Tag(1));
    EXPECT_EQ(log.info, (QStringList{TimeText(QTime(23, 59, 59)) + "    00000000     3008000000000001  -61",
                                     TimeText(QTime(0, 0)) + "    00000000     3008000000000001  -61"}));
}

TEST(InvLogModel, AnEmptiedDistinctListLetsSeenTagsBeNew) {
    Log log;
    log.feed(Tag(1));
    log.feed(Tag(2));
    log.model.distinctListCleared();
    EXPECT_EQ(log.model.capacityText(), "CAPACITY: 0");
    log.distinct.clear();
    log.feed(Tag(2));
    log.feed(Tag(1));
    log.feed(Tag(2));
    EXPECT_EQ(log.distinct, (QStringList{Tag(2), Tag(1)}));
    EXPECT_EQ(log.model.capacityText(), "CAPACITY: 2");
    EXPECT_EQ(log.all.size(), 5);
}

} // namespace
} // namespace rd
