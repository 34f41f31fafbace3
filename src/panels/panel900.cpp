#include "panel900.h"

#include "commands.h"
#include "page_kit.h"

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
    using page::Box;

    // Left: the commands for the only label in the field.
    auto* initLabel =
        MakeButton(this, QStringLiteral("BitBtnEPC_INIT_LABEL"), QStringLiteral("INIT_LABEL"),
                   colors::black(), QStringLiteral("инициализация метки (единственная метка в поле)"));
    ComboBox_EPC_INIT_LABEL_W1 =
        Box(this, QStringLiteral("ComboBox_EPC_INIT_LABEL_W1"), QStringLiteral("3008"), 4,
            QStringLiteral("manufacturer code"), {}, QStringLiteral("код производителя 0000..FFFF"));
    ComboBox_EPC_INIT_LABEL_W2 =
        Box(this, QStringLiteral("ComboBox_EPC_INIT_LABEL_W2"), QStringLiteral("0000"), 4,
            QStringLiteral("label number"), {}, QStringLiteral("номер метки 0000..FFFF"));
    auto* wrEpc = MakeButton(this, QStringLiteral("BitBtn_KELM_WR_DATA_EPC"), QStringLiteral("WR_DATA_EPC"),
                             colors::black(),
                             QStringLiteral("запись слова данных в область EPC (единственная метка в поле)"));
    ComboBox_KELM_WR_DATA_EPC_P =
        Box(this, QStringLiteral("ComboBox_KELM_WR_DATA_EPC_P"), QStringLiteral("1"), 2,
            QStringLiteral("EPC word address"), kWordAddresses, QStringLiteral("адрес слова данных"));
    ComboBoxKELM_WR_DATA_EPC_DATA =
        Box(this, QStringLiteral("ComboBoxKELM_WR_DATA_EPC_DATA"), QStringLiteral("0000"), 4,
            QStringLiteral("EPC word to write"), {}, kOnlyLabelWord);
    auto* wrUser = MakeButton(
        this, QStringLiteral("BitBtn_KELM_WR_DATA_USER"), QStringLiteral("WR_DATA_USER"), colors::black(),
        QStringLiteral("запись слова данных в область USER  (единственная метка в поле)"));
    ComboBox_KELM_WR_DATA_USER_P =
        Box(this, QStringLiteral("ComboBox_KELM_WR_DATA_USER_P"), QStringLiteral("1"), 2,
            QStringLiteral("USER word address"), kWordAddresses, QStringLiteral("адрес слова данных"));
    ComboBoxKELM_WR_DATA_USER_DATA =
        Box(this, QStringLiteral("ComboBoxKELM_WR_DATA_USER_DATA"), QStringLiteral("0000"), 4,
            QStringLiteral("USER word to write"), {}, kOnlyLabelWord);
    auto* rdEpc =
        MakeButton(this, QStringLiteral("BitBtn_KELM_RD_DATA_EPC"), QStringLiteral("RD_DATA_EPC"),
                   colors::black(), QStringLiteral("чтение области EPC метки  (единственная метка в поле)"));
    auto* rdUser =
        MakeButton(this, QStringLiteral("BitBtnKELM_RD_DATA_USER"), QStringLiteral("RD_DATA_USER"),
                   colors::black(), QStringLiteral("чтение области USER метки  (единственная метка в поле)"));

    // Middle: the commands for a numbered label (one row of boxes M, P, W serves all
    // four), then the inventory start and stop.
    auto* currWrEpc =
        MakeButton(this, QStringLiteral("BitBtnKELM_CURR_WR_DATA_EPC"), QStringLiteral("CURR_WR_DATA_EPC"),
                   colors::black(), QStringLiteral("запись слова в область EPC  метки с конкретным номером"));
    auto* currWrUser = MakeButton(this, QStringLiteral("BitBtnKELM_CURR_WR_DATA_USER"),
                                  QStringLiteral("CURR_WR_DATA_USER"), colors::black(),
                                  QStringLiteral("запись слова в область USER  метки с конкретным номером"));
    auto* currRdEpc =
        MakeButton(this, QStringLiteral("BitBtnKELM_CURR_RD_DATA_EPC"), QStringLiteral("CURR_RD_DATA_EPC"),
                   colors::black(), QStringLiteral("чтение EPC области конкретной метки"));
    auto* currRdUser =
        MakeButton(this, QStringLiteral("BitBtnKELM_CURR_RD_DATA_USER"), QStringLiteral("CURR_RD_DATA_USER"),
                   colors::black(), QStringLiteral("чтение USER области конкретной метки"));
    ComboBoxKELM_CURR_WR_DATA_EPC_M =
        Box(this, QStringLiteral("ComboBoxKELM_CURR_WR_DATA_EPC_M"), QStringLiteral("0001"), 4,
            QStringLiteral("number of the label"), {}, QStringLiteral("номер метки"));
    ComboBoxKELM_CURR_WR_DATA_EPC_P =
        Box(this, QStringLiteral("ComboBoxKELM_CURR_WR_DATA_EPC_P"), QStringLiteral("1"), 2,
            QStringLiteral("address of the word to write"), {},
            QStringLiteral("номер(адрес) записываемого слова"));
    ComboBoxKELM_CURR_WR_DATA_EPC_W =
        Box(this, QStringLiteral("ComboBoxKELM_CURR_WR_DATA_EPC_W"), QStringLiteral("1234"), 4,
            QStringLiteral("word to write"), {}, kOnlyLabelWord);
    auto* invStart =
        MakeButton(this, QStringLiteral("BitBtnEPC_INVENTORY_TIME"), QStringLiteral("EPC_INVENTORY_TIME"),
                   colors::black(), QStringLiteral("запуск режима INVENTORY"));
    ComboBoxEPC_INVENTORY_TIME_Q = Box(this, QStringLiteral("ComboBoxEPC_INVENTORY_TIME_Q"),
                                       QStringLiteral("20"), 4, QStringLiteral("inventory Q"));
    ComboBoxEPC_INVENTORY_TIME_C = Box(this, QStringLiteral("ComboBoxEPC_INVENTORY_TIME_C"),
                                       QStringLiteral("5"), 2, QStringLiteral("inventory C"));
    ComboBoxEPC_INVENTORY_TIME_CNTR = Box(this, QStringLiteral("ComboBoxEPC_INVENTORY_TIME_CNTR"),
                                          QStringLiteral("15"), 4, QStringLiteral("inventory counter"));
    auto* invStop =
        MakeButton(this, QStringLiteral("BitBtnKELM_INVENTORY_STOP"), QStringLiteral("INVENTORY_STOP"),
                   colors::black(), QStringLiteral("остановка режима INVENTORY"));

    // Right: the check box of the inventory log, query test, attenuation, power.
    CheckBoxINV_LOG_ON = new QCheckBox(QStringLiteral("INV LOG ON"), this);
    CheckBoxINV_LOG_ON->setObjectName(QStringLiteral("CheckBoxINV_LOG_ON"));
    CheckBoxINV_LOG_ON->setAccessibleName(QStringLiteral("INV LOG ON"));
    CheckBoxINV_LOG_ON->setChecked(false);
    auto* queryAck = MakeButton(this, QStringLiteral("BitBtn900_QUERY_ACK"), QStringLiteral("QUERY_ACK"));
    auto* setAtt = MakeButton(this, QStringLiteral("BitBtn900_SET_ATT_OUT"), QStringLiteral("SET_ATT_OUT"));
    ComboBox900_SET_ATT_OUT = Box(this, QStringLiteral("ComboBox900_SET_ATT_OUT"), QStringLiteral("10"), 4,
                                  QStringLiteral("output attenuation"));
    auto* powerOn = MakeButton(this, QStringLiteral("BitBtn_900_POWER_ON"), QStringLiteral("POWER_ON"));
    auto* powerOff = MakeButton(this, QStringLiteral("BitBtn_900_POWER_OFF"), QStringLiteral("POWER_OFF"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(8);

    auto* left = new QGridLayout;
    left->setSpacing(3);
    left->addWidget(initLabel, 0, 0);
    left->addWidget(ComboBox_EPC_INIT_LABEL_W1, 0, 1);
    left->addWidget(ComboBox_EPC_INIT_LABEL_W2, 0, 2);
    left->addWidget(wrEpc, 1, 0);
    left->addWidget(ComboBox_KELM_WR_DATA_EPC_P, 1, 1);
    left->addWidget(ComboBoxKELM_WR_DATA_EPC_DATA, 1, 2);
    left->addWidget(wrUser, 2, 0);
    left->addWidget(ComboBox_KELM_WR_DATA_USER_P, 2, 1);
    left->addWidget(ComboBoxKELM_WR_DATA_USER_DATA, 2, 2);
    left->addWidget(rdEpc, 3, 0);
    left->addWidget(rdUser, 4, 0);
    left->setRowStretch(5, 1);

    auto* middle = new QGridLayout;
    middle->setSpacing(3);
    middle->addWidget(currWrEpc, 0, 0);
    middle->addWidget(ComboBoxKELM_CURR_WR_DATA_EPC_M, 0, 1);
    middle->addWidget(ComboBoxKELM_CURR_WR_DATA_EPC_P, 0, 2);
    middle->addWidget(ComboBoxKELM_CURR_WR_DATA_EPC_W, 0, 3);
    middle->addWidget(currWrUser, 1, 0);
    middle->addWidget(currRdEpc, 2, 0);
    middle->addWidget(currRdUser, 3, 0);
    middle->addWidget(invStart, 4, 0);
    middle->addWidget(ComboBoxEPC_INVENTORY_TIME_Q, 4, 1);
    middle->addWidget(ComboBoxEPC_INVENTORY_TIME_C, 4, 2);
    middle->addWidget(ComboBoxEPC_INVENTORY_TIME_CNTR, 4, 3);
    middle->addWidget(invStop, 5, 0);
    middle->setRowStretch(6, 1);

    auto* right = new QGridLayout;
    right->setSpacing(3);
    right->addWidget(CheckBoxINV_LOG_ON, 0, 0, 1, 2);
    right->addWidget(queryAck, 1, 0);
    right->addWidget(setAtt, 2, 0);
    right->addWidget(ComboBox900_SET_ATT_OUT, 2, 1);
    right->addWidget(powerOn, 3, 0);
    right->addWidget(powerOff, 4, 0);
    right->setRowStretch(5, 1);

    row->addLayout(left);
    row->addLayout(middle);
    row->addStretch(1);
    row->addLayout(right);

    OnClick(initLabel, [this] { BitBtnEPC_INIT_LABELClick(); });
    OnClick(wrEpc, [this] { BitBtn_KELM_WR_DATA_EPCClick(); });
    OnClick(wrUser, [this] { BitBtn_KELM_WR_DATA_USERClick(); });
    OnClick(rdEpc, [this] { BitBtn_KELM_RD_DATA_EPCClick(); });
    OnClick(rdUser, [this] { BitBtnKELM_RD_DATA_USERClick(); });
    OnClick(currWrEpc, [this] { BitBtnKELM_CURR_WR_DATA_EPCClick(); });
    OnClick(currWrUser, [this] { BitBtnKELM_CURR_WR_DATA_USERClick(); });
    OnClick(currRdEpc, [this] { BitBtnKELM_CURR_RD_DATA_EPCClick(); });
    OnClick(currRdUser, [this] { BitBtnKELM_CURR_RD_DATA_USERClick(); });
    OnClick(invStart, [this] { BitBtnEPC_INVENTORY_TIMEClick(); });
    OnClick(invStop, [this] { BitBtnKELM_INVENTORY_STOPClick(); });
    OnClick(setAtt, [this] { BitBtn900_SET_ATT_OUTClick(); });
    OnClick(queryAck, [this] { BitBtn900_QUERY_ACKClick(); });
    OnClick(powerOn, [this] { BitBtn_900_POWER_ONClick(); });
    OnClick(powerOff, [this] { BitBtn_900_POWER_OFFClick(); });
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
    using page::Box;

    auto* init =
        MakeButton(this, QStringLiteral("BitBtnALPHA_INIT_LABEL"), QStringLiteral("ALPHA_INIT_LABEL"));
    ComboBoxALPHA_INIT_LABEL_W1 = Box(this, QStringLiteral("ComboBoxALPHA_INIT_LABEL_W1"),
                                      QStringLiteral("3008"), 8, QStringLiteral("first word"));
    ComboBoxALPHA_INIT_LABEL_W2 = Box(this, QStringLiteral("ComboBoxALPHA_INIT_LABEL_W2"),
                                      QStringLiteral("2222"), 8, QStringLiteral("second word"));
    ComboBoxALPHA_INIT_LABEL_W3 =
        Box(this, QStringLiteral("ComboBoxALPHA_INIT_LABEL_W3"), QStringLiteral("3333"), 8,
            QStringLiteral("third word, advanced for the next label"));
    auto* check = MakeButton(this, QStringLiteral("BitBtnALPHA_INIT_LABEL_CHECK"), QStringLiteral("CHECK"));
    auto* inc = MakeButton(this, QStringLiteral("BitBtnALPHA_INIT_LABEL_W3_INC"), QStringLiteral("inc W3"));

    QGridLayout* g = page::CompactGrid(this);
    g->addWidget(init, 0, 0);
    g->addWidget(ComboBoxALPHA_INIT_LABEL_W1, 0, 1);
    g->addWidget(ComboBoxALPHA_INIT_LABEL_W2, 0, 2);
    g->addWidget(ComboBoxALPHA_INIT_LABEL_W3, 0, 3);
    g->addWidget(check, 0, 4);
    g->addWidget(inc, 1, 3);
    g->setRowStretch(2, 1);
    g->setColumnStretch(5, 1);

    OnClick(init, [this] { BitBtnALPHA_INIT_LABELClick(); });
    OnClick(check, [this] { BitBtnALPHA_INIT_LABEL_CHECKClick(); });
    OnClick(inc, [this] { BitBtnALPHA_INIT_LABEL_W3_INCClick(); });
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
