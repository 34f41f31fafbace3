#include "panels/panel900.h"

#include "panels/commands.h"
#include "panels/page_kit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>

namespace rd {

namespace {
const QStringList kWordAddresses = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                    QStringLiteral("4"), QStringLiteral("5")};
const QString kOnlyLabelWord = QStringLiteral("записываемое слово");
} // namespace

Panel900::Panel900(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheet900"));
    using namespace page;
    using P = Panel900;

    // clang-format off
    // Left: the commands for the only label in the field.
    auto* left = new QGridLayout;
    left->setSpacing(3);
    Fill(this, left, {
        {0, 0, Button("BitBtnEPC_INIT_LABEL", "INIT_LABEL", &P::BitBtnEPC_INIT_LABELClick)
                   .hint("инициализация метки (единственная метка в поле)")},
        {0, 1, Box(&ComboBox_EPC_INIT_LABEL_W1, "ComboBox_EPC_INIT_LABEL_W1", "3008", 4, "manufacturer code")
                   .hint("код производителя 0000..FFFF")},
        {0, 2, Box(&ComboBox_EPC_INIT_LABEL_W2, "ComboBox_EPC_INIT_LABEL_W2", "0000", 4, "label number")
                   .hint("номер метки 0000..FFFF")},
        {1, 0, Button("BitBtn_KELM_WR_DATA_EPC", "WR_DATA_EPC", &P::BitBtn_KELM_WR_DATA_EPCClick)
                   .hint("запись слова данных в область EPC (единственная метка в поле)")},
        {1, 1, Box(&ComboBox_KELM_WR_DATA_EPC_P, "ComboBox_KELM_WR_DATA_EPC_P", "1", 2, "EPC word address")
                   .items(kWordAddresses).hint("адрес слова данных")},
        {1, 2, Box(&ComboBoxKELM_WR_DATA_EPC_DATA, "ComboBoxKELM_WR_DATA_EPC_DATA", "0000", 4,
                   "EPC word to write").hint(kOnlyLabelWord)},
        {2, 0, Button("BitBtn_KELM_WR_DATA_USER", "WR_DATA_USER", &P::BitBtn_KELM_WR_DATA_USERClick)
                   .hint("запись слова данных в область USER  (единственная метка в поле)")},
        {2, 1, Box(&ComboBox_KELM_WR_DATA_USER_P, "ComboBox_KELM_WR_DATA_USER_P", "1", 2, "USER word address")
                   .items(kWordAddresses).hint("адрес слова данных")},
        {2, 2, Box(&ComboBoxKELM_WR_DATA_USER_DATA, "ComboBoxKELM_WR_DATA_USER_DATA", "0000", 4,
                   "USER word to write").hint(kOnlyLabelWord)},
        {3, 0, Button("BitBtn_KELM_RD_DATA_EPC", "RD_DATA_EPC", &P::BitBtn_KELM_RD_DATA_EPCClick)
                   .hint("чтение области EPC метки  (единственная метка в поле)")},
        {4, 0, Button("BitBtnKELM_RD_DATA_USER", "RD_DATA_USER", &P::BitBtnKELM_RD_DATA_USERClick)
                   .hint("чтение области USER метки  (единственная метка в поле)")},
    });
    left->setRowStretch(5, 1);

    // Middle: the commands for a numbered label (one row of boxes M, P, W serves all four;
    // Tab visits the four buttons first), then the inventory start and stop.
    auto* middle = new QGridLayout;
    middle->setSpacing(3);
    Fill(this, middle, {
        {0, 0, Button("BitBtnKELM_CURR_WR_DATA_EPC", "CURR_WR_DATA_EPC",
                      &P::BitBtnKELM_CURR_WR_DATA_EPCClick)
                   .hint("запись слова в область EPC  метки с конкретным номером")},
        {1, 0, Button("BitBtnKELM_CURR_WR_DATA_USER", "CURR_WR_DATA_USER",
                      &P::BitBtnKELM_CURR_WR_DATA_USERClick)
                   .hint("запись слова в область USER  метки с конкретным номером")},
        {2, 0, Button("BitBtnKELM_CURR_RD_DATA_EPC", "CURR_RD_DATA_EPC",
                      &P::BitBtnKELM_CURR_RD_DATA_EPCClick)
                   .hint("чтение EPC области конкретной метки")},
        {3, 0, Button("BitBtnKELM_CURR_RD_DATA_USER", "CURR_RD_DATA_USER",
                      &P::BitBtnKELM_CURR_RD_DATA_USERClick)
                   .hint("чтение USER области конкретной метки")},
        {0, 1, Box(&ComboBoxKELM_CURR_WR_DATA_EPC_M, "ComboBoxKELM_CURR_WR_DATA_EPC_M", "0001", 4,
                   "number of the label").hint("номер метки")},
        {0, 2, Box(&ComboBoxKELM_CURR_WR_DATA_EPC_P, "ComboBoxKELM_CURR_WR_DATA_EPC_P", "1", 2,
                   "address of the word to write").hint("номер(адрес) записываемого слова")},
        {0, 3, Box(&ComboBoxKELM_CURR_WR_DATA_EPC_W, "ComboBoxKELM_CURR_WR_DATA_EPC_W", "1234", 4,
                   "word to write").hint(kOnlyLabelWord)},
        {4, 0, Button("BitBtnEPC_INVENTORY_TIME", "EPC_INVENTORY_TIME", &P::BitBtnEPC_INVENTORY_TIMEClick)
                   .hint("запуск режима INVENTORY")},
        {4, 1, Box(&ComboBoxEPC_INVENTORY_TIME_Q, "ComboBoxEPC_INVENTORY_TIME_Q", "20", 4, "inventory Q")},
        {4, 2, Box(&ComboBoxEPC_INVENTORY_TIME_C, "ComboBoxEPC_INVENTORY_TIME_C", "5", 2, "inventory C")},
        {4, 3, Box(&ComboBoxEPC_INVENTORY_TIME_CNTR, "ComboBoxEPC_INVENTORY_TIME_CNTR", "15", 4,
                   "inventory counter")},
        {5, 0, Button("BitBtnKELM_INVENTORY_STOP", "INVENTORY_STOP", &P::BitBtnKELM_INVENTORY_STOPClick)
                   .hint("остановка режима INVENTORY")},
    });
    middle->setRowStretch(6, 1);

    // Right: the check box of the inventory log, query test, attenuation, power.
    auto* right = new QGridLayout;
    right->setSpacing(3);
    Fill(this, right, {
        {0, 0, Check(&CheckBoxINV_LOG_ON, "CheckBoxINV_LOG_ON", "INV LOG ON"), 1, 2},
        {1, 0, Button("BitBtn900_QUERY_ACK", "QUERY_ACK", &P::BitBtn900_QUERY_ACKClick)},
        {2, 0, Button("BitBtn900_SET_ATT_OUT", "SET_ATT_OUT", &P::BitBtn900_SET_ATT_OUTClick)},
        {2, 1, Box(&ComboBox900_SET_ATT_OUT, "ComboBox900_SET_ATT_OUT", "10", 4, "output attenuation")},
        {3, 0, Button("BitBtn_900_POWER_ON", "POWER_ON", &P::BitBtn_900_POWER_ONClick)},
        {4, 0, Button("BitBtn_900_POWER_OFF", "POWER_OFF", &P::BitBtn_900_POWER_OFFClick)},
    });
    right->setRowStretch(5, 1);

    // clang-format on
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(8);
    row->addLayout(left);
    row->addLayout(middle);
    row->addStretch(1);
    row->addLayout(right);
}

// The check box belongs to the inventory log, which connects it itself.
void Panel900::attachToWindow() {}

void Panel900::BitBtnEPC_INIT_LABELClick() {
    shell_.SEND_STRING_COMA(cmd::KelmInitLabel(ComboBox_EPC_INIT_LABEL_W1->currentText(),
                                               ComboBox_EPC_INIT_LABEL_W2->currentText()));
}

void Panel900::BitBtn_KELM_WR_DATA_EPCClick() {
    shell_.SEND_STRING_COMA(cmd::KelmWrDataEpc(ComboBox_KELM_WR_DATA_EPC_P->currentText(),
                                               ComboBoxKELM_WR_DATA_EPC_DATA->currentText()));
}

void Panel900::BitBtn_KELM_WR_DATA_USERClick() {
    shell_.SEND_STRING_COMA(cmd::KelmWrDataUser(ComboBox_KELM_WR_DATA_USER_P->currentText(),
                                                ComboBoxKELM_WR_DATA_USER_DATA->currentText()));
}

void Panel900::BitBtn_KELM_RD_DATA_EPCClick() {
    shell_.SEND_STRING_COMA(cmd::KelmRdDataEpc());
}

void Panel900::BitBtnKELM_RD_DATA_USERClick() {
    shell_.SEND_STRING_COMA(cmd::KelmRdDataUser());
}

void Panel900::BitBtnKELM_CURR_WR_DATA_EPCClick() {
    shell_.SEND_STRING_COMA(cmd::KelmCurrWrDataEpc(ComboBoxKELM_CURR_WR_DATA_EPC_M->currentText(),
                                                   ComboBoxKELM_CURR_WR_DATA_EPC_P->currentText(),
                                                   ComboBoxKELM_CURR_WR_DATA_EPC_W->currentText()));
}

void Panel900::BitBtnKELM_CURR_WR_DATA_USERClick() {
    shell_.SEND_STRING_COMA(cmd::KelmCurrWrDataUser(ComboBoxKELM_CURR_WR_DATA_EPC_M->currentText(),
                                                    ComboBoxKELM_CURR_WR_DATA_EPC_P->currentText(),
                                                    ComboBoxKELM_CURR_WR_DATA_EPC_W->currentText()));
}

void Panel900::BitBtnKELM_CURR_RD_DATA_EPCClick() {
    shell_.SEND_STRING_COMA(cmd::KelmCurrRdDataEpc(ComboBoxKELM_CURR_WR_DATA_EPC_M->currentText()));
}

void Panel900::BitBtnKELM_CURR_RD_DATA_USERClick() {
    shell_.SEND_STRING_COMA(cmd::KelmCurrRdDataUser(ComboBoxKELM_CURR_WR_DATA_EPC_M->currentText()));
}

// The window's run control reads the three inventory boxes of this page.
void Panel900::BitBtnEPC_INVENTORY_TIMEClick() {
    shell_.StartInventoryRun();
}

void Panel900::BitBtnKELM_INVENTORY_STOPClick() {
    shell_.StopInventoryRun();
}

void Panel900::BitBtn900_SET_ATT_OUTClick() {
    shell_.SEND_STRING_COMA(cmd::SetAttOut(ComboBox900_SET_ATT_OUT->currentText()));
}

void Panel900::BitBtn900_QUERY_ACKClick() {
    shell_.SEND_STRING_COMA(cmd::QueryAck());
}

void Panel900::BitBtn_900_POWER_ONClick() {
    shell_.SEND_STRING_COMA(cmd::PowerOn());
}

void Panel900::BitBtn_900_POWER_OFFClick() {
    shell_.SEND_STRING_COMA(cmd::PowerOff());
}

// ---- ALPHA ---------------------------------------------------------------------------------

PanelAlpha::PanelAlpha(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetALPHA"));
    using namespace page;
    using P = PanelAlpha;

    // clang-format off
    QGridLayout* g = CompactGrid(this);
    Fill(this, g, {
        {0, 0, Button("BitBtnALPHA_INIT_LABEL", "ALPHA_INIT_LABEL", &P::BitBtnALPHA_INIT_LABELClick)},
        {0, 1, Box(&ComboBoxALPHA_INIT_LABEL_W1, "ComboBoxALPHA_INIT_LABEL_W1", "3008", 8, "first word")},
        {0, 2, Box(&ComboBoxALPHA_INIT_LABEL_W2, "ComboBoxALPHA_INIT_LABEL_W2", "2222", 8, "second word")},
        {0, 3, Box(&ComboBoxALPHA_INIT_LABEL_W3, "ComboBoxALPHA_INIT_LABEL_W3", "3333", 8,
                   "third word, advanced for the next label")},
        {0, 4, Button("BitBtnALPHA_INIT_LABEL_CHECK", "CHECK", &P::BitBtnALPHA_INIT_LABEL_CHECKClick)},
        {1, 3, Button("BitBtnALPHA_INIT_LABEL_W3_INC", "inc W3", &P::BitBtnALPHA_INIT_LABEL_W3_INCClick)},
    });
    // clang-format on
    g->setRowStretch(2, 1);
    g->setColumnStretch(5, 1);
}

void PanelAlpha::attachToWindow() {}

void PanelAlpha::BitBtnALPHA_INIT_LABELClick() {
    shell_.SEND_STRING_COMA(cmd::AlphaInitLabel(ComboBoxALPHA_INIT_LABEL_W1->currentText(),
                                                ComboBoxALPHA_INIT_LABEL_W2->currentText(),
                                                ComboBoxALPHA_INIT_LABEL_W3->currentText()));
}

// Reads the label's EPC area back: the same command as RD_DATA_EPC on the 900 page.
void PanelAlpha::BitBtnALPHA_INIT_LABEL_CHECKClick() {
    shell_.SEND_STRING_COMA(cmd::KelmRdDataEpc());
}

void PanelAlpha::BitBtnALPHA_INIT_LABEL_W3_INCClick() {
    ComboBoxALPHA_INIT_LABEL_W3->setEditText(
        cmd::IncrementedWord(ComboBoxALPHA_INIT_LABEL_W3->currentText()));
}

// ---- What the window asks of the 900 MHz page ---------------------------------------------

QString Panel900::inventoryStartCommand() const {
    return cmd::KelmEpcInventoryTime(ComboBoxEPC_INVENTORY_TIME_Q->currentText(),
                                     ComboBoxEPC_INVENTORY_TIME_C->currentText(),
                                     ComboBoxEPC_INVENTORY_TIME_CNTR->currentText());
}

} // namespace rd
