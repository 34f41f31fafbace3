// The tool pages' controls as the window starts them: captions and their colours, the
// texts and items of the boxes, fonts, and the double-click that empties a list box.
#include "window_fixture.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace rd::testing {
namespace {

using ToolControls = WindowTest;

TEST_F(ToolControls, ButtonsCarryTheirCaptionsAndColours) {
    struct Button {
        const char* name;
        const char* caption;
        QColor color; // invalid: no colour of its own
    };
    const Button buttons[] = {
        {"BitBtn_ANT_TEST_START", "START", {}},
        {"BitBtn_ANT_TEST_STOP", "STOP", {}},
        {"BitBtn_ANT_TEST_dev_found", "COM", {}},
        {"BitBtnLOG_INV_START", "INV_START", {}},
        {"BitBtnLOG_INV_STOP", "INV_STOP", {}},
        {"BitBtnLOG_SaveFilles", "SAVE", {}},
        {"BitBtnZEZ2011_COM", "COM", colors::black()},
        {"BitBtnZEZ2011_COLLECTION", "COLLECTION", colors::blue()},
        {"BitBtnTimerZEZ2011", "TIMER", colors::blue()},
        {"BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0", "SEND_COP_READ_USER_ID EEEE FEDCBAF0", colors::black()},
        {"BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1", "SEND_COP_READ_USER_ID EEEE FEDCBAF1", colors::black()},
        {"BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2", "SEND_COP_READ_USER_ID EEEE FEDCBAF2", colors::blue()},
        {"BitBtnZEZ2011_SEND", "SEND", colors::black()},
        {"BitBtnZEZ2011_File", "FILE", colors::blue()},
        {"BitBtnKAMAZ_START_INV", "START", {}},
        {"BitBtnKAMAZ_STOP_INV", "STOP", {}},
    };
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(c<QPushButton>(b.name)->text(), QString::fromLatin1(b.caption));
        if (b.color.isValid()) {
            EXPECT_EQ(fontColor(b.name), b.color);
        }
    }
    auto* logOn = c<QCheckBox>("CheckBoxINV_LOG_ON");
    EXPECT_EQ(logOn->text(), "INV LOG ON");
    EXPECT_FALSE(logOn->isChecked());
    EXPECT_EQ(text("LabelLOG_NUM_INV"), "CAPACITY:");
}

TEST_F(ToolControls, BoxesStartWithTheirTextsAndItems) {
    struct Box {
        const char* name;
        const char* text;
        QStringList items;
    };
    const Box boxes[] = {
        {"ComboBox_ANT_TEST_STOP_INV", "5", {}},
        {"ComboBoxTomerZEZ2011Period", "150", {"60", "120", "180", "300", "600"}},
        {"ComboBoxZEZ2011_SEND",
         "VERSION",
         {"VERSION", "SHT_T_RH", "", "ADF4360_ON", "ADF4360_OFF", "",
          "ADF4360_LOAD_LATCH_STRUCTURE_A_B_R 0 5400 1000", "ADF4360_LOAD_LATCH_STRUCTURE_A_B_R 0 5360 1000",
          "", "SET_RF_KHZ 430000", "SET_RF_KHZ 431000", "SET_RF_KHZ 432000", "SET_RF_KHZ 433000",
          "SET_RF_KHZ 434000", "SET_RF_KHZ 435000", "SET_RF_KHZ 436000", "",
          "SCAN_FROM_TO_STEP_T 430000 437000 100 1000"}},
    };
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.name);
        auto* box = c<QComboBox>(b.name);
        EXPECT_TRUE(box->isEditable());
        EXPECT_EQ(box->currentText(), QString::fromLatin1(b.text));
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items.append(box->itemText(i));
        EXPECT_EQ(items, b.items);
    }
}

TEST_F(ToolControls, FontsOfLabelsAndListBoxes) {
    struct Font {
        const char* name;
        const char* family; // "" where the window's font family stays
        int pixelSize;      // 0 where the size stays
        bool bold;
    };
    const Font fonts[] = {
        {"LabelANT_TEST_TAG_COUNT", "", 19, true},
        {"MemoANT_TEST_TAGS", "Courier New", 0, false},
        {"Memo_ANT_TEST_info", "Courier10 BT", 0, false},
        {"LabelZEZ2011TimerCount", "", 19, true},
        {"LabelZEZ2011_0", "", 19, true},
        {"LabelZEZ2011_1", "", 19, true},
        {"LabelZEZ2011_2", "", 19, true},
        {"MemoZEZ2011_Info", "Courier New", 0, false},
        {"LabelKAMAZ_DATE", "Tahoma", 21, true},
        {"LabelKAMAZ_Time", "Tahoma", 21, true},
        {"LabelKAMAZ_Rota", "Tahoma", 21, true},
        {"LabelKAMAZ_AVTO", "Tahoma", 21, true},
        {"LabelKAMAZ_REG_SIGN", "Tahoma", 21, true},
    };
    for (const Font& f : fonts) {
        SCOPED_TRACE(f.name);
        const QFont font = c<QWidget>(f.name)->font();
        if (*f.family) {
            EXPECT_EQ(font.family(), QString::fromLatin1(f.family));
        }
        if (f.pixelSize > 0) {
            EXPECT_EQ(font.pixelSize(), f.pixelSize);
        }
        EXPECT_EQ(font.bold(), f.bold);
    }
    auto* kamaz = c<QPlainTextEdit>("MemoKAMAZ");
    EXPECT_EQ(kamaz->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(kamaz->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(ToolControls, ADoubleClickEmptiesEachListBoxOfTheToolPages) {
    for (const char* name : {"MemoANT_TEST_TAGS", "Memo_ANT_TEST_info", "MemoLOG_ALL", "MemoLOG_STR",
                             "MemoLOG_STR_FILTR", "MemoZEZ2011", "MemoZEZ2011_Info", "MemoSAW_DATA"}) {
        SCOPED_TRACE(name);
        TMemo* m = memo(name);
        EXPECT_EQ(m->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        m->append("a line");
        m->append("another line");
        m->doubleClick();
        EXPECT_EQ(m->count(), 0);
    }
}

} // namespace
} // namespace rd::testing
