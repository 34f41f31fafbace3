// The command pages inside the real window: every control with its start text, items and
// hint; every button's frame on the wire of a simulated reader; the 433 page's timer; the
// ALPHA page's "inc W3"; the Wiegand clock setting.
#include "app/window/main_window.h"
#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/widgets.h"
#include "link/serial_port.h"
#include "sim/reader_sim.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace rd {
namespace {

// ---- Controls and their start state ----------------------------------------------------

enum class Kind { Button, Box, Check };

struct Control {
    const char* page;
    const char* name;
    Kind kind;
    QString text; // caption or start text
    QStringList items = {};
    QString hint = {};
    QString placeholder = {};
};

const QString kUserIdBytesHint = QStringLiteral("количество записываемых байт (HEX) 0C максимум");
const QString kAddrHint = QStringLiteral("смещение  (адрес) в памяти, HEX");
const QString kWordHint = QStringLiteral("записываемое слово");
const QStringList kOneToFive = {"1", "2", "3", "4", "5"};

const std::vector<Control>& Controls() {
    static const std::vector<Control> table = {
        // 433 MHz
        {"TabSheet433", "BitBtn433_SEND_COP_COLLECTION", Kind::Button, "SEND_COP_COLLECTION"},
        {"TabSheet433", "ComboBox433_WindowSize", Kind::Box, "16"},
        {"TabSheet433", "ComboBox433_MaxPacketLength", Kind::Box, "48"},
        {"TabSheet433", "ComboBox433_UDBTypeCode", Kind::Box, "11"},
        {"TabSheet433", "ComboBox433_TimeOut", Kind::Box, "3000"},
        {"TabSheet433", "BitBtn433_SEND_COP_SLEEP", Kind::Button, "SEND_COP_SLEEP"},
        {"TabSheet433", "BitBtnSEND_COP_READ_USER_ID", Kind::Button, "SEND_COP_READ_USER_ID"},
        {"TabSheet433", "ComboBoxTagManufacturerID", Kind::Box, "EEEE"},
        {"TabSheet433",
         "ComboBoxTagSerialNumber",
         Kind::Box,
         "FEDCBA01",
         {"FEDCBA01", "FEDCBA02", "FEDCBA03", "FEDCBA04"}},
        {"TabSheet433", "BitBtnSEND_COP_RSSI_READ_USER_ID", Kind::Button, "SEND_COP_RSSI_READ_USER_ID"},
        {"TabSheet433", "BitBtnSEND_N_COP_READ_USER_ID", Kind::Button, "SEND_N_COP_READ_USER_ID"},
        {"TabSheet433", "ComboBoxSEND_N_COP_READ_USER_ID", Kind::Box, "10"},
        {"TabSheet433", "BitBtnSEND_COP_WR_USER_ID", Kind::Button, "SEND_COP_WR_USER_ID"},
        {"TabSheet433",
         "ComboBox_util_SEND_COP_WR_USER_ID_Len",
         Kind::Box,
         "0C",
         {"00", "01", "02", "03", "04", "05", "06", "07", "08", "09", "0A", "0B", "0C"},
         kUserIdBytesHint,
         "количество записываемых байт (десятичное)"},
        {"TabSheet433",
         "ComboBox_util_SEND_COP_WR_USER_ID",
         Kind::Box,
         "00 11 22 33 44 55 66 77 88 99 AA BB",
         {},
         "записываемые данные, HEX побайтно через пробел"},
        {"TabSheet433", "BitBtn_util_SEND_COP_READ_MEMORY", Kind::Button, "SEND_COP_READ_MEMORY"},
        {"TabSheet433",
         "ComboBox_util_SEND_COP_WR_MEMORY_Length",
         Kind::Box,
         "10",
         {},
         "количество читаемых байт (HEX) 10 максимум"},
        {"TabSheet433", "ComboBox_util_SEND_COP_WR_MEMORY_Addr", Kind::Box, "0", {}, kAddrHint},
        {"TabSheet433", "BitBtn_util_SEND_COP_WR_MEMORY", Kind::Button, "SEND_COP_WR_MEMORY"},
        {"TabSheet433",
         "ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length",
         Kind::Box,
         "10",
         {},
         "количество записываемых байт (HEX) 10 максимум"},
        {"TabSheet433", "ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr", Kind::Box, "0", {}, kAddrHint},
        {"TabSheet433", "ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data", Kind::Box,
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"},
        {"TabSheet433",
         "BitBtnLabPeriod250ms",
         Kind::Button,
         "LoadPeriod",
         {},
         "загружает в адрес 20h период пробуждения метки (кратно 250мс)"},
        {"TabSheet433", "ComboBoxLabPeriod250ms", Kind::Box, "4", {}, "период HEX", "8"},
        {"TabSheet433", "BitBtn433_impuls", Kind::Button, "impuls"},
        {"TabSheet433", "BitBtn433_Timer", Kind::Button, "Timer"},
        // 900 MHz
        {"TabSheet900",
         "BitBtnEPC_INIT_LABEL",
         Kind::Button,
         "INIT_LABEL",
         {},
         "инициализация метки (единственная метка в поле)"},
        {"TabSheet900", "ComboBox_EPC_INIT_LABEL_W1", Kind::Box, "3008", {}, "код производителя 0000..FFFF"},
        {"TabSheet900", "ComboBox_EPC_INIT_LABEL_W2", Kind::Box, "0000", {}, "номер метки 0000..FFFF"},
        {"TabSheet900",
         "BitBtn_KELM_WR_DATA_EPC",
         Kind::Button,
         "WR_DATA_EPC",
         {},
         "запись слова данных в область EPC (единственная метка в поле)"},
        {"TabSheet900", "ComboBox_KELM_WR_DATA_EPC_P", Kind::Box, "1", kOneToFive, "адрес слова данных"},
        {"TabSheet900", "ComboBoxKELM_WR_DATA_EPC_DATA", Kind::Box, "0000", {}, kWordHint},
        {"TabSheet900",
         "BitBtn_KELM_WR_DATA_USER",
         Kind::Button,
         "WR_DATA_USER",
         {},
         "запись слова данных в область USER  (единственная метка в поле)"},
        {"TabSheet900", "ComboBox_KELM_WR_DATA_USER_P", Kind::Box, "1", kOneToFive, "адрес слова данных"},
        {"TabSheet900", "ComboBoxKELM_WR_DATA_USER_DATA", Kind::Box, "0000", {}, kWordHint},
        {"TabSheet900",
         "BitBtn_KELM_RD_DATA_EPC",
         Kind::Button,
         "RD_DATA_EPC",
         {},
         "чтение области EPC метки  (единственная метка в поле)"},
        {"TabSheet900",
         "BitBtnKELM_RD_DATA_USER",
         Kind::Button,
         "RD_DATA_USER",
         {},
         "чтение области USER метки  (единственная метка в поле)"},
        {"TabSheet900",
         "BitBtnKELM_CURR_WR_DATA_EPC",
         Kind::Button,
         "CURR_WR_DATA_EPC",
         {},
         "запись слова в область EPC  метки с конкретным номером"},
        {"TabSheet900",
         "BitBtnKELM_CURR_WR_DATA_USER",
         Kind::Button,
         "CURR_WR_DATA_USER",
         {},
         "запись слова в область USER  метки с конкретным номером"},
        {"TabSheet900",
         "BitBtnKELM_CURR_RD_DATA_EPC",
         Kind::Button,
         "CURR_RD_DATA_EPC",
         {},
         "чтение EPC области конкретной метки"},
        {"TabSheet900",
         "BitBtnKELM_CURR_RD_DATA_USER",
         Kind::Button,
         "CURR_RD_DATA_USER",
         {},
         "чтение USER области конкретной метки"},
        {"TabSheet900", "ComboBoxKELM_CURR_WR_DATA_EPC_M", Kind::Box, "0001", {}, "номер метки"},
        {"TabSheet900",
         "ComboBoxKELM_CURR_WR_DATA_EPC_P",
         Kind::Box,
         "1",
         {},
         "номер(адрес) записываемого слова"},
        {"TabSheet900", "ComboBoxKELM_CURR_WR_DATA_EPC_W", Kind::Box, "1234", {}, kWordHint},
        {"TabSheet900",
         "BitBtnEPC_INVENTORY_TIME",
         Kind::Button,
         "EPC_INVENTORY_TIME",
         {},
         "запуск режима INVENTORY"},
        {"TabSheet900",
         "BitBtnKELM_INVENTORY_STOP",
         Kind::Button,
         "INVENTORY_STOP",
         {},
         "остановка режима INVENTORY"},
        {"TabSheet900", "ComboBoxEPC_INVENTORY_TIME_Q", Kind::Box, "20"},
        {"TabSheet900", "ComboBoxEPC_INVENTORY_TIME_C", Kind::Box, "5"},
        {"TabSheet900", "ComboBoxEPC_INVENTORY_TIME_CNTR", Kind::Box, "15"},
        {"TabSheet900", "BitBtn900_QUERY_ACK", Kind::Button, "QUERY_ACK"},
        {"TabSheet900", "BitBtn900_SET_ATT_OUT", Kind::Button, "SET_ATT_OUT"},
        {"TabSheet900", "ComboBox900_SET_ATT_OUT", Kind::Box, "10"},
        {"TabSheet900", "BitBtn_900_POWER_ON", Kind::Button, "POWER_ON"},
        {"TabSheet900", "BitBtn_900_POWER_OFF", Kind::Button, "POWER_OFF"},
        {"TabSheet900", "CheckBoxINV_LOG_ON", Kind::Check, "INV LOG ON"},
        // ALPHA
        {"TabSheetALPHA", "BitBtnALPHA_INIT_LABEL", Kind::Button, "ALPHA_INIT_LABEL"},
        {"TabSheetALPHA", "ComboBoxALPHA_INIT_LABEL_W1", Kind::Box, "3008"},
        {"TabSheetALPHA", "ComboBoxALPHA_INIT_LABEL_W2", Kind::Box, "2222"},
        {"TabSheetALPHA", "ComboBoxALPHA_INIT_LABEL_W3", Kind::Box, "3333"},
        {"TabSheetALPHA", "BitBtnALPHA_INIT_LABEL_CHECK", Kind::Button, "CHECK"},
        {"TabSheetALPHA", "BitBtnALPHA_INIT_LABEL_W3_INC", Kind::Button, "inc W3"},
        // Wiegand
        {"TabSheetWG", "BitBtnWG_SEND_STRING", Kind::Button, "SEND"},
        {"TabSheetWG",
         "ComboBoxWG_SEND_STRING",
         Kind::Box,
         "VERSION",
         {"VERSION", "", "DS1302_GET_DATE_TIME", "DS1302_SET_DATE_TIME", "", "WG_POWER_ON", "WG_POWER_OFF"}},
        {"TabSheetWG", "BitBtnWG_READER_A_ON", Kind::Button, "READER_A_ON"},
        {"TabSheetWG", "BitBtnWG_READER_A_OFF", Kind::Button, "READER_A_OFF"},
        {"TabSheetWG", "READER_B_ON", Kind::Button, "READER_B_ON"},
        {"TabSheetWG", "READER_B_OFF", Kind::Button, "READER_B_OFF"},
        {"TabSheetWG", "BitBtnWG_SetTime", Kind::Button, "Set Time"},
        {"TabSheetWG", "BitBtnWG_GetTime", Kind::Button, "Get Time"},
    };
    return table;
}

QStringList Items(const QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

TEST(PageControls, StartTextsItemsHintsAndPlaceholders) {
    TFormQUOR w;
    for (const Control& c : Controls()) {
        SCOPED_TRACE(c.name);
        auto* page = w.findChild<QWidget*>(QString::fromLatin1(c.page));
        ASSERT_TRUE(page) << c.page;
        auto* widget = page->findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_TRUE(widget) << "not on " << c.page;
        EXPECT_EQ(widget->toolTip(), c.hint);
        EXPECT_TRUE(widget->isEnabled());
        switch (c.kind) {
        case Kind::Button: {
            auto* b = qobject_cast<QPushButton*>(widget);
            ASSERT_TRUE(b);
            EXPECT_EQ(b->text(), c.text);
            EXPECT_EQ(FontColor(b), colors::black());
            break;
        }
        case Kind::Box: {
            auto* box = qobject_cast<QComboBox*>(widget);
            ASSERT_TRUE(box);
            EXPECT_TRUE(box->isEditable());
            EXPECT_EQ(box->currentText(), c.text);
            EXPECT_EQ(Items(box), c.items);
            if (c.items.contains(c.text)) { // the list opens, and the arrow keys move, from the start text
                EXPECT_EQ(box->itemText(box->currentIndex()), c.text);
            }
            EXPECT_EQ(box->lineEdit()->placeholderText(), c.placeholder);
            EXPECT_NE(box->accessibleName(), QString::fromLatin1(c.name)) << "say what the box holds";
            break;
        }
        case Kind::Check: {
            auto* check = qobject_cast<QCheckBox*>(widget);
            ASSERT_TRUE(check);
            EXPECT_EQ(check->text(), c.text);
            EXPECT_FALSE(check->isChecked());
            break;
        }
        }
    }
    auto* timer = w.findChild<FormTimer*>(QStringLiteral("Timer433"));
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->interval(), 2000);
    EXPECT_FALSE(timer->enabled());
}

// The pages share an 870 x 264 area of the UTIL page.
TEST(PageControls, EveryPageFitsItsArea) {
    TFormQUOR w;
    for (const char* name : {"TabSheet433", "TabSheet900", "TabSheetALPHA", "TabSheetWG"}) {
        auto* page = w.findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_TRUE(page) << name;
        const QSize min = page->minimumSizeHint();
        EXPECT_LE(min.width(), 866) << name;
        EXPECT_LE(min.height(), 240) << name;
    }
}

// ---- With a simulated reader -------------------------------------------------------------

// A window connected to a simulated reader on COM1 of a private port directory.
class ConnectedPages : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Options o;
        o.identifier = "VKR900-15";
        o.portDir = dir_.path();
        o.comNumber = 1;
        sim_ = std::make_unique<sim::ReaderSim>(o);
        SetPortDirectory(dir_.path());
        SetErrorSink([this](const QString& m) { errors_ << m; });
        window_ = std::make_unique<TFormQUOR>();
        window_->BF_START();
        ASSERT_TRUE(window_->connected());
        ASSERT_TRUE(sim_->waitForRequests(size_t(window_->connection()->commandCounter()), 2000));
        baseRequests_ = sim_->requestCount();
        baseCounter_ = window_->connection()->commandCounter();
    }

    void TearDown() override {
        window_.reset();
        SetErrorSink({});
        SetClockForTesting({});
        ResetPortDirectory();
    }

    template <class T> T* find(const char* name) {
        T* c = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(c) << name;
        return c;
    }
    void click(const char* button) { find<QPushButton>(button)->click(); }
    void setBox(const char* name, const QString& text) { find<QComboBox>(name)->setEditText(text); }

    // The frame that carries command text with the given counter to the given address.
    static std::vector<uint8_t> Frame(uint8_t address, int counter, const QString& text) {
        std::vector<uint8_t> f{address};
        const QByteArray body =
            ":" + QByteArray::number(counter).rightJustified(8, '0') + " " + text.toLatin1() + ";";
        f.insert(f.end(), body.begin(), body.end());
        return f;
    }

    // Frames the page sent since SetUp (or since the last call), after waiting for n of them.
    std::vector<std::vector<uint8_t>> newFrames(size_t n) {
        EXPECT_TRUE(sim_->waitForRequests(baseRequests_ + n, 3000));
        const auto all = sim_->requests();
        std::vector<std::vector<uint8_t>> out(all.begin() + long(baseRequests_), all.end());
        baseRequests_ = all.size();
        return out;
    }

    // Frames composed by the window since SetUp: exact, needs no waiting.
    int framesComposed() const { return window_->connection()->commandCounter() - baseCounter_; }

    sim::TempPortDir dir_;
    std::unique_ptr<sim::ReaderSim> sim_;
    std::unique_ptr<TFormQUOR> window_;
    QStringList errors_;
    size_t baseRequests_ = 0;
    int baseCounter_ = 0;
};

// Each button with every box of its page set to a text of its own, so that a box read in
// the wrong place or the wrong order shows; the address box set to 7 for all.
TEST_F(ConnectedPages, EveryButtonSendsItsFrameByteForByte) {
    struct Edit {
        const char* box;
        const char* text;
    };
    const std::vector<Edit> edits = {
        {"ComboBoxUTIL_ADDR", "07"},
        {"ComboBox433_WindowSize", "8"},
        {"ComboBox433_MaxPacketLength", "32"},
        {"ComboBox433_UDBTypeCode", "12"},
        {"ComboBox433_TimeOut", "2500"},
        {"ComboBoxTagManufacturerID", "ABCD"},
        {"ComboBoxTagSerialNumber", "0badf00d"}, // not among the items
        {"ComboBoxSEND_N_COP_READ_USER_ID", "3"},
        {"ComboBox_util_SEND_COP_WR_USER_ID_Len", "02"},
        {"ComboBox_util_SEND_COP_WR_USER_ID", "A1  B2"}, // inner double blank
        {"ComboBox_util_SEND_COP_WR_MEMORY_Length", "R4"},
        {"ComboBox_util_SEND_COP_WR_MEMORY_Addr", "R1F"},
        {"ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length", "W2"},
        {"ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr", "W30"},
        {"ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data", "C3 D4"},
        {"ComboBoxLabPeriod250ms", ""}, // empty: the placeholder is not sent
        {"ComboBox_EPC_INIT_LABEL_W1", "3009"},
        {"ComboBox_EPC_INIT_LABEL_W2", "0042"},
        {"ComboBox_KELM_WR_DATA_EPC_P", "2"},
        {"ComboBoxKELM_WR_DATA_EPC_DATA", "E0E0"},
        {"ComboBox_KELM_WR_DATA_USER_P", "5"},
        {"ComboBoxKELM_WR_DATA_USER_DATA", "u5u5"},
        {"ComboBoxKELM_CURR_WR_DATA_EPC_M", "0777"},
        {"ComboBoxKELM_CURR_WR_DATA_EPC_P", "3"},
        {"ComboBoxKELM_CURR_WR_DATA_EPC_W", "BEEF"},
        {"ComboBox900_SET_ATT_OUT", " 12"}, // leading blank kept
        {"ComboBoxALPHA_INIT_LABEL_W1", "A1"},
        {"ComboBoxALPHA_INIT_LABEL_W2", "A2"},
        {"ComboBoxALPHA_INIT_LABEL_W3", "A3"},
        {"ComboBoxWG_SEND_STRING", "WG_POWER_ON x"},
    };
    for (const Edit& e : edits)
        setBox(e.box, QString::fromLatin1(e.text));

    const struct {
        const char* button;
        const char* command;
    } table[] = {
        {"BitBtn433_SEND_COP_COLLECTION", "SEND_COP_COLLECTION 8 32 12 2500"},
        {"BitBtn433_SEND_COP_SLEEP", "SEND_COP_SLEEP "},
        {"BitBtn433_impuls", "SEND_WAKE_UP_IMPULS 1"},
        {"BitBtnSEND_COP_READ_USER_ID", "SEND_COP_READ_USER_ID ABCD 0badf00d"},
        {"BitBtnSEND_COP_RSSI_READ_USER_ID", "SEND_COP_RSSI_READ_USER_ID ABCD 0badf00d"},
        {"BitBtnSEND_N_COP_READ_USER_ID", "SEND_N_COP_READ_USER_ID ABCD 0badf00d 3"},
        {"BitBtnSEND_COP_WR_USER_ID", "SEND_COP_WR_USER_ID ABCD 0badf00d 02 A1  B2"},
        {"BitBtn_util_SEND_COP_READ_MEMORY", "SEND_COP_READ_MEMORY ABCD 0badf00d R4 R1F"},
        {"BitBtn_util_SEND_COP_WR_MEMORY", "SEND_COP_WR_MEMORY ABCD 0badf00d W2 W30 C3 D4"},
        {"BitBtnLabPeriod250ms", "SEND_COP_WR_MEMORY ABCD 0badf00d 1 20 "},
        {"BitBtnEPC_INIT_LABEL", "KELM_INIT_LABEL 3009 0042"},
        {"BitBtn_KELM_WR_DATA_EPC", "KELM_WR_DATA_EPC 2 E0E0"},
        {"BitBtn_KELM_WR_DATA_USER", "KELM_WR_DATA_USER 5 u5u5"},
        {"BitBtn_KELM_RD_DATA_EPC", "KELM_RD_DATA_EPC "},
        {"BitBtnKELM_RD_DATA_USER", "KELM_RD_DATA_USER "},
        {"BitBtnKELM_CURR_WR_DATA_EPC", "KELM_CURR_WR_DATA_EPC 0777 3 BEEF"},
        {"BitBtnKELM_CURR_WR_DATA_USER", "KELM_CURR_WR_DATA_USER 0777 3 BEEF"},
        {"BitBtnKELM_CURR_RD_DATA_EPC", "KELM_CURR_RD_DATA_EPC 0777"},
        {"BitBtnKELM_CURR_RD_DATA_USER", "KELM_CURR_RD_DATA_USER 0777"},
        {"BitBtn900_SET_ATT_OUT", "SET_ATT_OUT  12"},
        {"BitBtn900_QUERY_ACK", "F_TST_EPC_0_QUERY_ACK "},
        {"BitBtn_900_POWER_ON", "POWER_ON "},
        {"BitBtn_900_POWER_OFF", "POWER_OFF "},
        {"BitBtnALPHA_INIT_LABEL", "ALPHA_INIT_LABEL A1 A2 A3"},
        {"BitBtnALPHA_INIT_LABEL_CHECK", "KELM_RD_DATA_EPC "},
        {"BitBtnWG_SEND_STRING", "WG_POWER_ON x"},
        {"BitBtnWG_READER_A_ON", "WG_A_POWER_ON"},
        {"BitBtnWG_READER_A_OFF", "WG_A_POWER_OFF"},
        {"READER_B_ON", "WG_B_POWER_ON"},
        {"READER_B_OFF", "WG_B_POWER_OFF"},
        {"BitBtnWG_GetTime", "DS1302_GET_DATE_TIME"},
    };
    for (const auto& row : table)
        click(row.button);
    const auto frames = newFrames(std::size(table));
    ASSERT_EQ(frames.size(), std::size(table));
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], Frame(7, baseCounter_ + int(i) + 1, QString::fromLatin1(table[i].command)))
            << table[i].button;
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

TEST_F(ConnectedPages, WiegandListItemsAreSentAsPicked) {
    auto* list = find<QComboBox>("ComboBoxWG_SEND_STRING");
    list->setCurrentIndex(1); // an empty item
    click("BitBtnWG_SEND_STRING");
    list->setCurrentIndex(3); // the clock setting, bare
    click("BitBtnWG_SEND_STRING");
    const auto frames = newFrames(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], Frame(1, baseCounter_ + 1, ""));
    EXPECT_EQ(frames[1], Frame(1, baseCounter_ + 2, "DS1302_SET_DATE_TIME"));
}

TEST_F(ConnectedPages, SetTimeSendsTheClockAtTheClick) {
    const struct {
        QDateTime now;
        const char* command;
    } table[] = {
        {QDateTime(QDate(2013, 3, 1), QTime(9, 5, 7)), "DS1302_SET_DATE_TIME 01 03 13 09 05 07"},
        {QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)), "DS1302_SET_DATE_TIME 31 12 99 23 59 59"},
    };
    for (const auto& row : table) {
        SetClockForTesting([at = row.now] { return at; });
        click("BitBtnWG_SetTime");
    }
    const auto frames = newFrames(std::size(table));
    ASSERT_EQ(frames.size(), std::size(table));
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], Frame(1, baseCounter_ + int(i) + 1, QString::fromLatin1(table[i].command)));
}

TEST_F(ConnectedPages, IncW3AdvancesTheThirdWordOnlyAndSendsNothing) {
    const struct {
        const char* w3;
        const char* next;
    } table[] = {{"3333", "3334"}, {"FFFF", "10000"}, {"FFFFFFFF", "0000"}, {"12G4", "0013"}};
    for (const auto& row : table) {
        setBox("ComboBoxALPHA_INIT_LABEL_W3", QString::fromLatin1(row.w3));
        click("BitBtnALPHA_INIT_LABEL_W3_INC");
        EXPECT_EQ(find<QComboBox>("ComboBoxALPHA_INIT_LABEL_W3")->currentText(),
                  QString::fromLatin1(row.next))
            << row.w3;
    }
    click("BitBtnALPHA_INIT_LABEL_W3_INC"); // twice in a row: 0014
    EXPECT_EQ(find<QComboBox>("ComboBoxALPHA_INIT_LABEL_W3")->currentText(), "0014");
    EXPECT_EQ(find<QComboBox>("ComboBoxALPHA_INIT_LABEL_W1")->currentText(), "3008");
    EXPECT_EQ(find<QComboBox>("ComboBoxALPHA_INIT_LABEL_W2")->currentText(), "2222");
    EXPECT_EQ(framesComposed(), 0);
}

TEST_F(ConnectedPages, InventoryButtonsGoThroughTheRunControl) {
    setBox("ComboBoxEPC_INVENTORY_TIME_Q", "7");
    setBox("ComboBoxEPC_INVENTORY_TIME_C", "3");
    setBox("ComboBoxEPC_INVENTORY_TIME_CNTR", "100");
    click("BitBtnKELM_INVENTORY_STOP"); // no run yet: the stop goes out all the same
    EXPECT_EQ(window_->StopPending(), 1);
    EXPECT_TRUE(window_->TimerSTOP->enabled());
    click("BitBtnEPC_INVENTORY_TIME"); // ends the pending stop before the start
    EXPECT_EQ(window_->StopPending(), 0);
    EXPECT_FALSE(window_->TimerSTOP->enabled());
    const auto frames = newFrames(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], Frame(1, baseCounter_ + 1, "EPC_STOP"));
    EXPECT_EQ(frames[1], Frame(1, baseCounter_ + 2, "KELM_EPC_INVENTORY_TIME 7 3 100"));
}

// ---- The 433 page's timer ----------------------------------------------------------------

TEST_F(ConnectedPages, TimerButtonTogglesWithoutSending) {
    auto* button = find<QPushButton>("BitBtn433_Timer");
    auto* timer = find<FormTimer>("Timer433");
    EXPECT_EQ(FontColor(button), colors::black());
    click("BitBtn433_Timer");
    EXPECT_TRUE(timer->enabled());
    EXPECT_EQ(FontColor(button), colors::red());
    click("BitBtn433_Timer");
    EXPECT_FALSE(timer->enabled());
    EXPECT_EQ(FontColor(button), colors::black());
    EXPECT_EQ(framesComposed(), 0);
}

TEST_F(ConnectedPages, RunningTimerSendsTheConsoleTextAnewAtEachTick) {
    auto* timer = find<FormTimer>("Timer433");
    click("BitBtn433_Timer");
    ASSERT_TRUE(timer->enabled());
    const char* texts[] = {"VERSION", "GET_ADC ", "", "SEND_COP_READ_MEMORY  EEEE FEDCBA01  10  0"};
    for (const char* text : texts) {
        setBox("ComboBoxUTIL_COMMAND", QString::fromLatin1(text));
        timer->fire();
    }
    setBox("ComboBoxUTIL_ADDR", "03");
    timer->fire();
    const auto frames = newFrames(std::size(texts) + 1);
    ASSERT_EQ(frames.size(), std::size(texts) + 1);
    for (size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(frames[i], Frame(1, baseCounter_ + int(i) + 1, QString::fromLatin1(texts[i])));
    EXPECT_EQ(frames.back(),
              Frame(3, baseCounter_ + int(std::size(texts)) + 1, QString::fromLatin1(texts[3])));
    EXPECT_TRUE(timer->enabled());
}

TEST_F(ConnectedPages, AddressErrorAtATickLeavesTheTimerRunning) {
    auto* timer = find<FormTimer>("Timer433");
    click("BitBtn433_Timer");
    setBox("ComboBoxUTIL_ADDR", "0A");
    timer->fire();
    timer->fire();
    ASSERT_EQ(errors_.size(), 2);
    EXPECT_EQ(errors_[0], QStringLiteral("''0A'' is not a valid integer value"));
    EXPECT_TRUE(timer->enabled());
    EXPECT_EQ(FontColor(find<QPushButton>("BitBtn433_Timer")), colors::red());
    EXPECT_EQ(framesComposed(), 0);

    setBox("ComboBoxUTIL_ADDR", "02");
    timer->fire();
    const auto frames = newFrames(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Frame(2, baseCounter_ + 1, "VERSION"));
}

// A page button meets the same address error; nothing reaches the port.
TEST_F(ConnectedPages, AddressErrorOnAPageButtonSendsNothing) {
    setBox("ComboBoxUTIL_ADDR", "1 2");
    for (const char* button : {"BitBtn433_impuls", "BitBtn900_QUERY_ACK", "BitBtnWG_GetTime"})
        click(button);
    EXPECT_EQ(errors_, QStringList(3, QStringLiteral("''1 2'' is not a valid integer value")));
    EXPECT_EQ(framesComposed(), 0);
}

} // namespace
} // namespace rd
