// The window as it stands after start-up: pages, shared controls, timers, the start
// state that FormCreate leaves, and the small double-click handlers.
#include "app/window/com_select.h"
#include "app/window/main_window.h"
#include "kit/conv.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace rd {
namespace {

QStringList tabCaptions(QTabWidget* pc) {
    QStringList out;
    for (int i = 0; i < pc->count(); ++i)
        out << pc->tabText(i);
    return out;
}

QStringList tabNames(QTabWidget* pc) {
    QStringList out;
    for (int i = 0; i < pc->count(); ++i)
        out << pc->widget(i)->objectName();
    return out;
}

TEST(WindowStructure, PagesInOrderWithCaptionsAndStartPages) {
    TFormQUOR w;
    EXPECT_EQ(w.objectName(), "FormQUOR");
    auto* pc1 = w.findChild<QTabWidget*>("PageControl1");
    auto* pc2 = w.findChild<QTabWidget*>("PageControl2");
    ASSERT_TRUE(pc1 && pc2);
    EXPECT_EQ(
        tabNames(pc1),
        QStringList({"TabSheetTITLE", "TabSheetUTIL", "TabSheetTERMINAL", "TabSheet_ANT_TEST", "TabSheetLOG",
                     "TabSheetZEZ2011", "TabSheetKAMAZ", "TabSheetTAGS", "TabSheetFLEET", "TabSheetSWEEP"}));
    EXPECT_EQ(tabCaptions(pc1).mid(1),
              QStringList({"UTIL", "TRM", "ANT_TEST", "LOG", "ZEZ2011", "KAMAZ", "TAGS", "FLEET", "SWEEP"}));
    EXPECT_EQ(tabNames(pc2),
              QStringList({"TabSheet433", "TabSheet900", "TabSheetWG", "TabSheetALPHA", "TabSheetSpare"}));
    EXPECT_EQ(tabCaptions(pc2).mid(0, 4), QStringList({"433", "900", "Wiegand", "ALPHA"}));
    EXPECT_EQ(pc1->currentWidget()->objectName(), "TabSheetUTIL");
    EXPECT_EQ(pc2->currentWidget()->objectName(), "TabSheet900");
    for (QTabWidget* pc : {pc1, pc2})
        for (int i = 0; i < pc->count(); ++i) {
            EXPECT_TRUE(pc->isTabVisible(i)) << pc->tabText(i).toStdString();
            EXPECT_FALSE(pc->tabText(i).isEmpty());
            EXPECT_EQ(pc->widget(i)->accessibleName(), pc->tabText(i));
        }
    EXPECT_EQ(w.size(), QSize(943, 562));
}

TEST(WindowStructure, SharedControlsWithTheirStartTexts) {
    TFormQUOR w;
    struct Row {
        const char* name;
        const char* text;
    };
    const Row combos[] = {
        {"ComboBoxUTIL_COMMAND", "VERSION"}, {"ComboBoxUTIL_ADDR", "01"}, {"cbCOMPORT", "----"}};
    for (const Row& r : combos) {
        auto* c = w.findChild<QComboBox*>(r.name);
        ASSERT_TRUE(c) << r.name;
        EXPECT_EQ(c->currentText(), QString::fromUtf8(r.text)) << r.name;
        EXPECT_TRUE(c->isEditable()) << r.name;
        EXPECT_NE(c->accessibleName(), QString::fromUtf8(r.name)) << "say what the box holds: " << r.name;
    }
    const Row buttons[] = {{"BitBtnUTIL_SEND_COMMAND", "SEND"}, {"BitBtnUTIL_FIND_COM", "COM"}};
    for (const Row& r : buttons) {
        auto* b = w.findChild<QPushButton*>(r.name);
        ASSERT_TRUE(b) << r.name;
        EXPECT_EQ(b->text(), QString::fromUtf8(r.text));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        ASSERT_TRUE(a) << r.name;
        EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8(r.text));
    }
    auto* find = w.findChild<QPushButton*>("BitBtnUTIL_FIND_COM");
    EXPECT_EQ(find->toolTip(), QStringLiteral("поиск ридера"));
    EXPECT_EQ(find->palette().color(QPalette::ButtonText), QColor(0, 0, 255));
    EXPECT_EQ(w.findChild<QLabel*>("LabelCOM_PORT_STATUS")->text(), "STATUS");

    auto* addr = w.findChild<QComboBox*>("ComboBoxUTIL_ADDR");
    QStringList addrItems;
    for (int i = 0; i < addr->count(); ++i)
        addrItems << addr->itemText(i);
    EXPECT_EQ(addrItems, QStringList({"01", "02", "03", "04", "05", "06", "07", "08", "09"}));
    auto* com = w.findChild<QComboBox*>("cbCOMPORT");
    ASSERT_EQ(com->count(), 9);
    EXPECT_EQ(com->itemText(0), "COM1");
    EXPECT_EQ(com->itemText(8), "COM9");
    for (const char* memo : {"MemoUTIL_SEND", "MemoUTIL_REC", "MemoTERMINAL"})
        EXPECT_TRUE(w.findChild<TMemo*>(memo)) << memo;
}

TEST(WindowStructure, ConsolePresetsExactly) {
    TFormQUOR w;
    auto* c = w.findChild<QComboBox*>("ComboBoxUTIL_COMMAND");
    QStringList items;
    for (int i = 0; i < c->count(); ++i)
        items << c->itemText(i);
    // Every item in list order, blanks exactly as the reader expects them; "" separates groups.
    const char* const expected[] = {
        "VERSION",
        "",
        "ARM_GET_DEF_STRUCT",
        "POWER_ON",
        "POWER_OFF",
        "",
        "",
        "GET_TEMPERATURE",
        "SHT_RH",
        "SHT_T_RH",
        "",
        "SEND_COP_READ_MEMORY  EEEE FEDCBA01  10  0",
        "SEND_COP_WR_MEMORY EEEE FEDCBA01  10 0  00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF",
        "",
        "SEND_COP_COLLECTION 8 48 11 2000        L L H L",
        "",
        "SEND_COP_ALL_SLEEP_BUT EEEE FEDCBA01",
        "SEND_COP_ALL_SLEEP_BUT EEEE FEDCBA02",
        "",
        "SEND_COP_READ_USER_ID  EEEE FEDCBA01",
        "",
        "",
        "SEND_COP_ALL_USER_ID_RD",
        "SEND_COP_CURR_USER_ID_RD EEEE FEDCBA01",
        "",
        "SEND_WAKE_UP_IMPULS 2",
        "SEND_WAKE_UP_IMPULS 1",
        "SEND_WAKE_UP_IMPULS 0",
        "GET_ADC ",
        "GET_SLOT 8",
        "",
        "MRF49_TRANSMIT_ON",
        "MRF49_RECEIVE_ON",
        "MRF49_TEST_SEND 10",
        "MRF49_SEND_USART_WORDS 1000 5A",
        "",
        "MRF49_CENTER_FREQUENCY_SET 43392",
        "MRF49_CENTER_FREQUENCY_SET 43390",
        "MRF49_CENTER_FREQUENCY_SET 43377",
        "",
        "MRF49_SW_REC_MODE",
        "MRF49_SW_SEND_MODE_H",
        "MRF49_SW_SEND_MODE_L",
        "",
        "MRF49_SET_FSK 0",
        "MRF49_SET_FSK 1",
    };
    ASSERT_EQ(items.size(), 46);
    EXPECT_EQ(items.count(QString()), 14);
    for (int i = 0; i < 46; ++i)
        EXPECT_EQ(items[i], QString::fromLatin1(expected[i])) << "item " << i;
    // The console starts on the first preset, and choosing an empty one empties the line.
    EXPECT_EQ(c->currentText(), "VERSION");
    c->setCurrentIndex(1);
    EXPECT_EQ(c->currentText(), "");
}

TEST(WindowStructure, TimersWithIntervalsAndStartStates) {
    TFormQUOR w;
    struct Row {
        const char* name;
        int interval;
        bool enabled;
    };
    const Row rows[] = {{"TimerMAIN", 10, true},
                        {"TimerSTOP", 100, false},
                        {"Timer433", 2000, false},
                        {"TimerZEZ2011", 1000, false},
                        {"TimerKAMAZ", 1000, false}};
    for (const Row& r : rows) {
        auto* t = w.findChild<FormTimer*>(r.name);
        ASSERT_TRUE(t) << r.name;
        EXPECT_EQ(t->interval(), r.interval) << r.name;
        EXPECT_EQ(t->enabled(), r.enabled) << r.name;
    }
}

TEST(WindowStructure, PortSelectionDialogStaysHidden) {
    TFormCOM_SELECT d;
    EXPECT_EQ(d.objectName(), "FormCOM_SELECT");
    EXPECT_EQ(d.windowTitle(), "COM");
    EXPECT_FALSE(d.isVisible());
    auto* list = d.findChild<QComboBox*>("ComboBox_COM");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->currentText(), "COM1");
    EXPECT_EQ(list->count(), 9);
    EXPECT_EQ(list->itemText(8), "COM9");
    auto* ok = d.findChild<QPushButton*>("BitBtnOk");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), "Ok");
}

TEST(WindowStartState, FormCreateLeavesOnlyTheConnectPrompt) {
    TFormQUOR w;
    auto* rec = w.findChild<TMemo*>("MemoUTIL_REC");
    EXPECT_EQ(rec->lines()->lines(), QStringList({QStringLiteral("нажать COM для соединения с ридером")}));
    EXPECT_EQ(w.findChild<TMemo*>("MemoUTIL_SEND")->count(), 0);
    EXPECT_EQ(w.findChild<TMemo*>("MemoTERMINAL")->count(), 0);
    EXPECT_FALSE(w.connected());
    EXPECT_EQ(w.StopPending(), 0);
}

// The controls on the pages that the window drives, and what FormCreate leaves in them.
TEST(WindowStartState, PageControlsTheWindowDrivesAndTheirStartState) {
    TFormQUOR w;
    struct Memo {
        const char* name;
        QStringList lines;
    };
    const Memo memos[] = {{"Memo_ANT_TEST_info", {}}, {"MemoANT_TEST_TAGS", {}},
                          {"MemoLOG_ALL", {}},        {"MemoLOG_STR", {}},
                          {"MemoLOG_STR_FILTR", {}},  {"MemoZEZ2011_Info", {}},
                          {"MemoSAW_DATA", {}},       {"MemoZEZ2011", {"MemoZEZ2011"}}};
    for (const Memo& m : memos) {
        auto* memo = w.findChild<TMemo*>(m.name);
        ASSERT_TRUE(memo) << m.name;
        EXPECT_EQ(memo->lines()->lines(), m.lines) << m.name;
    }
    for (const char* name : {"Label_ANT_TEST_INV_COUNT", "LabelANT_TEST_TAG_COUNT", "LabelZEZ2011TimerCount",
                             "LabelZEZ2011_0", "LabelZEZ2011_1", "LabelZEZ2011_2"}) {
        auto* l = w.findChild<QLabel*>(name);
        ASSERT_TRUE(l) << name;
        EXPECT_EQ(l->text(), "") << name;
    }
    struct Button {
        const char* name;
        bool enabled;
    };
    const Button buttons[] = {{"BitBtn_ANT_TEST_START", false},    {"BitBtn_ANT_TEST_STOP", false},
                              {"BitBtnKAMAZ_START_INV", false},    {"BitBtnKAMAZ_STOP_INV", false},
                              {"BitBtn_ANT_TEST_dev_found", true}, {"BitBtnZEZ2011_COM", true}};
    for (const Button& b : buttons) {
        auto* button = w.findChild<QPushButton*>(b.name);
        ASSERT_TRUE(button) << b.name;
        EXPECT_EQ(button->isEnabled(), b.enabled) << b.name;
    }
    EXPECT_TRUE(w.findChild<QWidget*>("MemoKAMAZ"));
    EXPECT_TRUE(w.findChild<QLabel*>("Label_ANT_TEST_TIME"));
    EXPECT_EQ(w.InventoryStartCommand(), "KELM_EPC_INVENTORY_TIME 20 5 15");
}

// Each page takes back what it showed when the window returns to its start state.
TEST(WindowStartState, FormCreateResetsWhatThePagesShowed) {
    TFormQUOR w;
    const char* memos[] = {"Memo_ANT_TEST_info", "MemoANT_TEST_TAGS", "MemoLOG_ALL", "MemoLOG_STR",
                           "MemoLOG_STR_FILTR",  "MemoZEZ2011_Info",  "MemoSAW_DATA"};
    const char* labels[] = {"Label_ANT_TEST_INV_COUNT", "LabelANT_TEST_TAG_COUNT", "LabelZEZ2011TimerCount",
                            "LabelZEZ2011_0",           "LabelZEZ2011_1",          "LabelZEZ2011_2"};
    const char* buttons[] = {"BitBtn_ANT_TEST_START", "BitBtn_ANT_TEST_STOP"};
    for (const char* name : memos)
        w.findChild<TMemo*>(name)->append("a line");
    for (const char* name : labels)
        w.findChild<QLabel*>(name)->setText("shown");
    for (const char* name : buttons)
        w.findChild<QPushButton*>(name)->setEnabled(true);
    auto* notes = w.findChild<QPlainTextEdit*>("MemoKAMAZ");
    notes->setPlainText("notes");

    w.FormCreate();
    for (const char* name : memos)
        EXPECT_EQ(w.findChild<TMemo*>(name)->count(), 0) << name;
    for (const char* name : labels)
        EXPECT_EQ(w.findChild<QLabel*>(name)->text(), "") << name;
    for (const char* name : buttons)
        EXPECT_FALSE(w.findChild<QPushButton*>(name)->isEnabled()) << name;
    EXPECT_EQ(notes->toPlainText(), "");
}

// The display logs keep their newest lines; the lists that tools read back or save keep
// every line.
TEST(WindowStartState, DisplayLogsAreBoundedDataListsAreNot) {
    TFormQUOR w;
    struct Memo {
        const char* name;
        int maxLines;
    };
    const Memo memos[] = {{"MemoTERMINAL", kDisplayLogLines},
                          {"MemoUTIL_SEND", kDisplayLogLines},
                          {"MemoUTIL_REC", kDisplayLogLines},
                          {"MemoZEZ2011", kDisplayLogLines},
                          {"MemoZEZ2011_Info", kDisplayLogLines},
                          {"Memo_ANT_TEST_info", kDisplayLogLines},
                          {"MemoANT_TEST_TAGS", 0},
                          {"MemoLOG_STR", 0},
                          {"MemoLOG_STR_FILTR", 0},
                          {"MemoLOG_ALL", 0},
                          {"MemoSAW_DATA", 0}};
    EXPECT_EQ(kDisplayLogLines, 100000);
    for (const Memo& m : memos) {
        auto* memo = w.findChild<TMemo*>(m.name);
        ASSERT_TRUE(memo) << m.name;
        EXPECT_EQ(memo->maxLines(), m.maxLines) << m.name;
    }
}

TEST(WindowStartState, ClockRunsBeforeAnyReader) {
    TFormQUOR w;
    SetClockForTesting([] { return QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58)); });
    w.TimerMAIN->fire();
    SetClockForTesting({});
    auto* clock = w.findChild<QLabel*>("Label_ANT_TEST_TIME");
    EXPECT_EQ(clock->text(), TimeText(QTime(23, 59, 58)));
    // Assistive technology reads the time, not the label's object name.
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(clock);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->text(QAccessible::Name).toStdString(), clock->text().toStdString());
    EXPECT_EQ(w.TimerMAIN->interval(), 10);
    EXPECT_EQ(w.findChild<TMemo*>("MemoTERMINAL")->count(), 0);
}

TEST(WindowStartState, MemoDoubleClickEmptiesIt) {
    TFormQUOR w;
    for (const char* name : {"MemoUTIL_SEND", "MemoUTIL_REC", "MemoTERMINAL"}) {
        auto* m = w.findChild<TMemo*>(name);
        m->append("a line");
        ASSERT_GT(m->count(), 0);
        m->doubleClick();
        EXPECT_EQ(m->count(), 0) << name;
    }
}

TEST(WindowStartState, TitleAndClockDoubleClicksShowTheirTabs) {
    TFormQUOR w;
    auto* pc1 = w.findChild<QTabWidget*>("PageControl1");
    w.show();
    auto hideAll = [&] {
        for (int i = 1; i < pc1->count(); ++i)
            pc1->setTabVisible(i, false);
    };
    auto visibleNames = [&] {
        QStringList out;
        for (int i = 1; i < pc1->count(); ++i)
            if (pc1->isTabVisible(i))
                out << pc1->widget(i)->objectName();
        return out;
    };
    hideAll();
    auto* title = w.findChild<QLabel*>("LabelTitle");
    ASSERT_TRUE(title);
    QTest::mouseDClick(title, Qt::LeftButton);
    EXPECT_EQ(visibleNames(), QStringList({"TabSheetUTIL", "TabSheet_ANT_TEST", "TabSheetLOG",
                                           "TabSheetZEZ2011", "TabSheetKAMAZ"}));

    hideAll();
    auto* clock = w.findChild<QLabel*>("Label_ANT_TEST_TIME");
    ASSERT_TRUE(clock);
    QTest::mouseDClick(clock, Qt::LeftButton);
    EXPECT_EQ(visibleNames(), QStringList({"TabSheetUTIL", "TabSheetTERMINAL"}));
}

TEST(WindowStartState, SendBeforeAnyReaderDoesNothing) {
    TFormQUOR w;
    QString error;
    SetErrorSink([&](const QString& m) { error = m; });
    // Even an address that would not convert goes unnoticed while nothing is connected.
    w.findChild<QComboBox*>("ComboBoxUTIL_ADDR")->setEditText("xx");
    w.findChild<QPushButton*>("BitBtnUTIL_SEND_COMMAND")->click();
    SetErrorSink({});
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(w.findChild<TMemo*>("MemoUTIL_SEND")->count(), 0);
    EXPECT_EQ(w.findChild<TMemo*>("MemoTERMINAL")->count(), 0);
}

} // namespace
} // namespace rd
