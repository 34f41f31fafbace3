// The inventory log on the real window: the three lists, the cycle number, the log
// switch on the 900 MHz page and the saving of the three files.
#include "window_fixture.h"

#include "tools/inv_log.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rd::testing {
namespace {

const QString kCycle = QStringLiteral(":00000001 START_INVENTORY;");
QString Tag(int n) {
    return QStringLiteral(":00000001 INV 1 1 300800000000000%1 -61;").arg(n);
}
QString Info(int cycle, const QString& w5, const QString& w6) {
    return FixedTimeText() + QStringLiteral("    %1     ").arg(cycle, 8, 16, QLatin1Char('0')).toUpper() +
           w5 + QStringLiteral("  ") + w6;
}

class InvLogPageTest : public WindowTest {
  protected:
    InvLogPage& page() { return *form().pageLOG; }
    QCheckBox* logSwitch() { return c<QCheckBox>("CheckBoxINV_LOG_ON"); }
    void answer(const QString& a) { page().InvLogAnswer(a); }
    QStringList lines(const char* name) { return memo(name)->lines()->lines(); }
};

TEST_F(InvLogPageTest, LogsTagAnswersWhileTheSwitchIsOn) {
    struct Case {
        std::vector<QString> answers;
        QStringList all, filtr, info;
        const char* capacity;
    };
    const QString shortTag = QStringLiteral(":00000001 INV 1 1 3008;");
    const QString fourWords = QStringLiteral(":00000001 INV 1 1;");
    const Case cases[] = {
        {{Tag(1)}, {Tag(1)}, {Tag(1)}, {Info(0, "3008000000000001", "-61")}, "CAPACITY: 1"},
        // The same tag twice: twice in the full lists, once in the distinct list.
        {{kCycle, Tag(1), Tag(1)},
         {Tag(1), Tag(1)},
         {Tag(1)},
         {Info(1, "3008000000000001", "-61"), Info(1, "3008000000000001", "-61")},
         "CAPACITY: 1"},
        {{kCycle, Tag(2), kCycle, Tag(1), Tag(2)},
         {Tag(2), Tag(1), Tag(2)},
         {Tag(2), Tag(1)},
         {Info(1, "3008000000000002", "-61"), Info(2, "3008000000000001", "-61"),
          Info(2, "3008000000000002", "-61")},
         "CAPACITY: 2"},
        // Fewer than six words: the missing fields are empty, the separators stay.
        {{shortTag, fourWords},
         {shortTag, fourWords},
         {shortTag, fourWords},
         {Info(0, "3008", ""), Info(0, "", "")},
         "CAPACITY: 2"},
        // Cycles alone add no line; other answers are not logged.
        {{kCycle, QStringLiteral(":1 STOP_INVENTORY;"), QStringLiteral("INV"), QStringLiteral(":1 UID x;")},
         {},
         {},
         {},
         "CAPACITY:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("answers " + std::to_string(c.answers.size()) + ", first " + c.answers[0].toStdString());
        window.reset();
        logSwitch()->setChecked(true);
        for (const QString& a : c.answers)
            answer(a);
        EXPECT_EQ(lines("MemoLOG_STR"), c.all);
        EXPECT_EQ(lines("MemoLOG_STR_FILTR"), c.filtr);
        EXPECT_EQ(lines("MemoLOG_ALL"), c.info);
        EXPECT_EQ(text("LabelLOG_NUM_INV"), QString::fromLatin1(c.capacity));
    }
}

TEST_F(InvLogPageTest, TheSeventeenthCycleIsShownAs00000011) {
    logSwitch()->setChecked(true);
    for (int i = 0; i < 17; ++i)
        answer(kCycle);
    answer(Tag(1));
    EXPECT_EQ(page().model().cycles(), 17);
    EXPECT_EQ(lines("MemoLOG_ALL"), QStringList{FixedTimeText() + "    00000011     3008000000000001  -61"});
}

TEST_F(InvLogPageTest, NothingChangesWhileTheSwitchIsOff) {
    logSwitch()->setChecked(true);
    answer(kCycle);
    logSwitch()->setChecked(false);
    answer(kCycle);
    answer(Tag(1));
    EXPECT_EQ(page().model().cycles(), 1);
    EXPECT_TRUE(lines("MemoLOG_STR").isEmpty());
    EXPECT_TRUE(lines("MemoLOG_ALL").isEmpty());
    EXPECT_EQ(text("LabelLOG_NUM_INV"), "CAPACITY:");
}

TEST_F(InvLogPageTest, EmptyingTheDistinctListLetsSeenTagsCountAsNew) {
    logSwitch()->setChecked(true);
    answer(Tag(1));
    answer(Tag(2));
    memo("MemoLOG_STR_FILTR")->doubleClick();
    answer(Tag(2));
    EXPECT_EQ(lines("MemoLOG_STR_FILTR"), QStringList{Tag(2)});
    EXPECT_EQ(text("LabelLOG_NUM_INV"), "CAPACITY: 1");
    answer(Tag(1));
    answer(Tag(2));
    EXPECT_EQ(lines("MemoLOG_STR_FILTR"), (QStringList{Tag(2), Tag(1)}));
    EXPECT_EQ(lines("MemoLOG_STR").size(), 5);
}

TEST_F(InvLogPageTest, TheSwitchColoursTheInformationList) {
    EXPECT_EQ(memo("MemoLOG_ALL")->textColor(), colors::black());
    logSwitch()->click(); // as the user does
    EXPECT_EQ(memo("MemoLOG_ALL")->textColor(), colors::red());
    logSwitch()->click();
    EXPECT_EQ(memo("MemoLOG_ALL")->textColor(), colors::black());
    // INV_START ticks the switch, which runs its handler as a click would.
    click("BitBtnLOG_INV_START");
    EXPECT_TRUE(logSwitch()->isChecked());
    EXPECT_EQ(memo("MemoLOG_ALL")->textColor(), colors::red());
    // INV_STOP leaves logging on.
    click("BitBtnLOG_INV_STOP");
    EXPECT_TRUE(logSwitch()->isChecked());
    EXPECT_EQ(form().StopPending(), 1);
}

TEST_F(InvLogPageTest, StartAndStopGoThroughTheRunControlAndKeepTheLists) {
    sim::Options o;
    connectedTo(o);
    logSwitch()->setChecked(true);
    answer(kCycle);
    answer(Tag(1));
    form().StopInventoryRun();
    click("BitBtnLOG_INV_START");
    EXPECT_EQ(form().StopPending(), 0);
    click("BitBtnLOG_INV_STOP");
    ASSERT_TRUE(waitForSent(3));
    EXPECT_EQ(sent(), (std::vector<std::string>{"EPC_STOP", "KELM_EPC_INVENTORY_TIME 20 5 15", "EPC_STOP"}));
    // The second run goes on counting cycles from the first.
    answer(kCycle);
    answer(Tag(1));
    EXPECT_EQ(lines("MemoLOG_ALL").last(), Info(2, "3008000000000001", "-61"));
    EXPECT_EQ(lines("MemoLOG_STR").size(), 2);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "(missing)";
    return f.readAll();
}

TEST_F(InvLogPageTest, SavesTheThreeListsUnderTheChosenBaseName) {
    QTemporaryDir dir;
    savePath = dir.filePath("run.log"); // an extension stays part of the base name
    logSwitch()->setChecked(true);
    answer(kCycle);
    answer(Tag(1));
    answer(Tag(1));
    click("BitBtnLOG_SaveFilles");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(dialogs, QStringList{"SaveDialogLOG|" + FixedTimeText().replace(':', '_')});
    const QByteArray tag = Tag(1).toLatin1() + "\r\n";
    EXPECT_EQ(ReadAll(savePath + "-ALL_STR.txt"), tag + tag);
    EXPECT_EQ(ReadAll(savePath + "-FILTR_STR.txt"), tag);
    const QByteArray info = Info(1, "3008000000000001", "-61").toUtf8() + "\r\n";
    EXPECT_EQ(ReadAll(savePath + "-INFO_STR.txt"), info + info);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);
    EXPECT_EQ(lines("MemoLOG_STR").size(), 2); // saving empties nothing
}

TEST_F(InvLogPageTest, EmptyListsGiveEmptyFilesAndCancelWritesNothing) {
    QTemporaryDir dir;
    click("BitBtnLOG_SaveFilles"); // savePath empty: the user cancelled
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    savePath = dir.filePath("empty");
    click("BitBtnLOG_SaveFilles");
    for (const char* suffix : {"-ALL_STR.txt", "-FILTR_STR.txt", "-INFO_STR.txt"})
        EXPECT_EQ(ReadAll(savePath + suffix), QByteArray()) << suffix;
}

TEST_F(InvLogPageTest, AnUnwritableDirectoryShowsThePathAndKeepsEarlierFiles) {
    QTemporaryDir dir;
    savePath = dir.filePath("base");
    logSwitch()->setChecked(true);
    answer(Tag(1));
    click("BitBtnLOG_SaveFilles");
    const QByteArray earlier = ReadAll(savePath + "-ALL_STR.txt");
    ASSERT_EQ(earlier, Tag(1).toLatin1() + "\r\n");
    answer(Tag(2));

    chmod(QFile::encodeName(dir.path()).constData(), 0555);
    if (geteuid() == 0)
        setfsuid(65534); // root's permission override does not follow this identity
    click("BitBtnLOG_SaveFilles");
    if (geteuid() == 0)
        setfsuid(0);
    chmod(QFile::encodeName(dir.path()).constData(), 0700);

    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(savePath + "-ALL_STR.txt")) << errors[0].toStdString();
    EXPECT_EQ(ReadAll(savePath + "-ALL_STR.txt"), earlier);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

} // namespace
} // namespace rd::testing
