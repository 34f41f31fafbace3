#include "panel433.h"

#include "commands.h"
#include "form_timer.h"
#include "page_kit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>

#include <algorithm>

namespace rd {

namespace {
// The boxes that follow a row's button, left-aligned; `atRight` stands at the far right.
QHBoxLayout* BoxRow(std::initializer_list<QWidget*> widgets, QWidget* atRight = nullptr) {
    auto* h = new QHBoxLayout;
    h->setSpacing(4);
    for (QWidget* w : widgets)
        h->addWidget(w);
    h->addStretch(1);
    if (atRight)
        h->addWidget(atRight);
    return h;
}

const QString kMemoryAddressHint = QStringLiteral("смещение  (адрес) в памяти, HEX");
} // namespace

Panel433::Panel433(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheet433"));
    using page::Box;

    auto* collection = MakeButton(this, QStringLiteral("BitBtn433_SEND_COP_COLLECTION"),
                                  QStringLiteral("SEND_COP_COLLECTION"));
    ComboBox433_WindowSize = Box(this, QStringLiteral("ComboBox433_WindowSize"), QStringLiteral("16"), 3,
                                 QStringLiteral("window size"));
    ComboBox433_MaxPacketLength = Box(this, QStringLiteral("ComboBox433_MaxPacketLength"),
                                      QStringLiteral("48"), 3, QStringLiteral("maximum packet length"));
    ComboBox433_UDBTypeCode = Box(this, QStringLiteral("ComboBox433_UDBTypeCode"), QStringLiteral("11"), 3,
                                  QStringLiteral("UDB type code"));
    ComboBox433_TimeOut = Box(this, QStringLiteral("ComboBox433_TimeOut"), QStringLiteral("3000"), 4,
                              QStringLiteral("time-out"));
    auto* impuls = MakeButton(this, QStringLiteral("BitBtn433_impuls"), QStringLiteral("impuls"));

    auto* sleep =
        MakeButton(this, QStringLiteral("BitBtn433_SEND_COP_SLEEP"), QStringLiteral("SEND_COP_SLEEP"));
    BitBtn433_Timer =
        MakeButton(this, QStringLiteral("BitBtn433_Timer"), QStringLiteral("Timer"), colors::black());

    auto* readUserId = MakeButton(this, QStringLiteral("BitBtnSEND_COP_READ_USER_ID"),
                                  QStringLiteral("SEND_COP_READ_USER_ID"));
    ComboBoxTagManufacturerID = Box(this, QStringLiteral("ComboBoxTagManufacturerID"), QStringLiteral("EEEE"),
                                    5, QStringLiteral("tag manufacturer ID"));
    ComboBoxTagSerialNumber = Box(this, QStringLiteral("ComboBoxTagSerialNumber"), QStringLiteral("FEDCBA01"),
                                  9, QStringLiteral("tag serial number"),
                                  {QStringLiteral("FEDCBA01"), QStringLiteral("FEDCBA02"),
                                   QStringLiteral("FEDCBA03"), QStringLiteral("FEDCBA04")});
    auto* rssiReadUserId = MakeButton(this, QStringLiteral("BitBtnSEND_COP_RSSI_READ_USER_ID"),
                                      QStringLiteral("SEND_COP_RSSI_READ_USER_ID"));
    auto* nReadUserId = MakeButton(this, QStringLiteral("BitBtnSEND_N_COP_READ_USER_ID"),
                                   QStringLiteral("SEND_N_COP_READ_USER_ID"));
    ComboBoxSEND_N_COP_READ_USER_ID = Box(this, QStringLiteral("ComboBoxSEND_N_COP_READ_USER_ID"),
                                          QStringLiteral("10"), 3, QStringLiteral("number of user ID reads"));

    auto* wrUserId =
        MakeButton(this, QStringLiteral("BitBtnSEND_COP_WR_USER_ID"), QStringLiteral("SEND_COP_WR_USER_ID"));
    QStringList lengths;
    for (int i = 0; i <= 0x0C; ++i)
        lengths << QStringLiteral("%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
    ComboBox_util_SEND_COP_WR_USER_ID_Len =
        Box(this, QStringLiteral("ComboBox_util_SEND_COP_WR_USER_ID_Len"), QStringLiteral("0C"), 3,
            QStringLiteral("number of user ID bytes to write"), lengths,
            QStringLiteral("количество записываемых байт (HEX) 0C максимум"),
            QStringLiteral("количество записываемых байт (десятичное)"));
    ComboBox_util_SEND_COP_WR_USER_ID = Box(this, QStringLiteral("ComboBox_util_SEND_COP_WR_USER_ID"),
                                            QStringLiteral("00 11 22 33 44 55 66 77 88 99 AA BB"), 36,
                                            QStringLiteral("user ID bytes to write"), {},
                                            QStringLiteral("записываемые данные, HEX побайтно через пробел"));

    auto* readMemory = MakeButton(this, QStringLiteral("BitBtn_util_SEND_COP_READ_MEMORY"),
                                  QStringLiteral("SEND_COP_READ_MEMORY"));
    ComboBox_util_SEND_COP_WR_MEMORY_Length =
        Box(this, QStringLiteral("ComboBox_util_SEND_COP_WR_MEMORY_Length"), QStringLiteral("10"), 3,
            QStringLiteral("number of bytes to read"), {},
            QStringLiteral("количество читаемых байт (HEX) 10 максимум"));
    ComboBox_util_SEND_COP_WR_MEMORY_Addr =
        Box(this, QStringLiteral("ComboBox_util_SEND_COP_WR_MEMORY_Addr"), QStringLiteral("0"), 3,
            QStringLiteral("memory address to read from"), {}, kMemoryAddressHint);

    auto* wrMemory = MakeButton(this, QStringLiteral("BitBtn_util_SEND_COP_WR_MEMORY"),
                                QStringLiteral("SEND_COP_WR_MEMORY"));
    ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length =
        Box(this, QStringLiteral("ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length"), QStringLiteral("10"),
            3, QStringLiteral("number of bytes to write"), {},
            QStringLiteral("количество записываемых байт (HEX) 10 максимум"));
    ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr =
        Box(this, QStringLiteral("ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr"), QStringLiteral("0"), 3,
            QStringLiteral("memory address to write to"), {}, kMemoryAddressHint);
    ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data =
        Box(this, QStringLiteral("ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data"),
            QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"), 48,
            QStringLiteral("memory bytes to write"));

    auto* loadPeriod = MakeButton(
        this, QStringLiteral("BitBtnLabPeriod250ms"), QStringLiteral("LoadPeriod"), colors::black(),
        QStringLiteral("загружает в адрес 20h период пробуждения метки (кратно 250мс)"));
    ComboBoxLabPeriod250ms = Box(this, QStringLiteral("ComboBoxLabPeriod250ms"), QStringLiteral("4"), 3,
                                 QStringLiteral("wake-up period in steps of 250 ms"), {},
                                 QStringLiteral("период HEX"), QStringLiteral("8"));

    // "Timer" stands right under "impuls", with the same width.
    const int rightWidth = std::max(impuls->sizeHint().width(), BitBtn433_Timer->sizeHint().width());
    impuls->setMinimumWidth(rightWidth);
    BitBtn433_Timer->setMinimumWidth(rightWidth);

    Timer433 = new FormTimer(QStringLiteral("Timer433"), 2000, false, this);
    Timer433->onTimer([this] { Timer433Timer(); });

    QGridLayout* g = page::CompactGrid(this);
    g->addWidget(collection, 0, 0);
    g->addLayout(BoxRow({ComboBox433_WindowSize, ComboBox433_MaxPacketLength, ComboBox433_UDBTypeCode,
                         ComboBox433_TimeOut},
                        impuls),
                 0, 1);
    g->addWidget(sleep, 1, 0);
    g->addLayout(BoxRow({}, BitBtn433_Timer), 1, 1);
    g->addWidget(readUserId, 2, 0);
    g->addLayout(BoxRow({ComboBoxTagManufacturerID, ComboBoxTagSerialNumber, rssiReadUserId, nReadUserId,
                         ComboBoxSEND_N_COP_READ_USER_ID}),
                 2, 1);
    g->addWidget(wrUserId, 3, 0);
    g->addLayout(BoxRow({ComboBox_util_SEND_COP_WR_USER_ID_Len, ComboBox_util_SEND_COP_WR_USER_ID}), 3, 1);
    g->addWidget(readMemory, 4, 0);
    g->addLayout(BoxRow({ComboBox_util_SEND_COP_WR_MEMORY_Length, ComboBox_util_SEND_COP_WR_MEMORY_Addr}), 4,
                 1);
    g->addWidget(wrMemory, 5, 0);
    g->addLayout(BoxRow({ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length,
                         ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr,
                         ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data}),
                 5, 1);
    g->addWidget(loadPeriod, 6, 0);
    g->addLayout(BoxRow({ComboBoxLabPeriod250ms}), 6, 1);
    g->setColumnStretch(1, 1);
    g->setRowStretch(7, 1);

    OnClick(collection, [this] { BitBtn433_SEND_COP_COLLECTIONClick(); });
    OnClick(sleep, [this] { BitBtn433_SEND_COP_SLEEPClick(); });
    OnClick(impuls, [this] { BitBtn433_impulsClick(); });
    OnClick(readUserId, [this] { BitBtnSEND_COP_READ_USER_IDClick(); });
    OnClick(rssiReadUserId, [this] { BitBtnSEND_COP_RSSI_READ_USER_IDClick(); });
    OnClick(nReadUserId, [this] { BitBtnSEND_N_COP_READ_USER_IDClick(); });
    OnClick(wrUserId, [this] { BitBtnSEND_COP_WR_USER_IDClick(); });
    OnClick(readMemory, [this] { BitBtn_util_SEND_COP_READ_MEMORYClick(); });
    OnClick(wrMemory, [this] { BitBtn_util_SEND_COP_WR_MEMORYClick(); });
    OnClick(loadPeriod, [this] { BitBtnLabPeriod250msClick(); });
    OnClick(BitBtn433_Timer, [this] { BitBtn433_TimerClick(); });
}

// The console's boxes are read through the window at each send, so nothing needs hooking here.
void Panel433::attachToWindow() {}

void Panel433::send(const QString& text) {
    shell_.SEND_STRING_COMA(text);
}

void Panel433::BitBtn433_SEND_COP_COLLECTIONClick() {
    send(cmd::SendCopCollection(ComboBox433_WindowSize->currentText(),
                                ComboBox433_MaxPacketLength->currentText(),
                                ComboBox433_UDBTypeCode->currentText(), ComboBox433_TimeOut->currentText()));
}

void Panel433::BitBtn433_SEND_COP_SLEEPClick() {
    send(cmd::SendCopSleep());
}

void Panel433::BitBtn433_impulsClick() {
    send(cmd::SendWakeUpImpuls());
}

void Panel433::BitBtnSEND_COP_READ_USER_IDClick() {
    send(cmd::SendCopReadUserId(ComboBoxTagManufacturerID->currentText(),
                                ComboBoxTagSerialNumber->currentText()));
}

void Panel433::BitBtnSEND_COP_RSSI_READ_USER_IDClick() {
    send(cmd::SendCopRssiReadUserId(ComboBoxTagManufacturerID->currentText(),
                                    ComboBoxTagSerialNumber->currentText()));
}

void Panel433::BitBtnSEND_N_COP_READ_USER_IDClick() {
    send(cmd::SendNCopReadUserId(ComboBoxTagManufacturerID->currentText(),
                                 ComboBoxTagSerialNumber->currentText(),
                                 ComboBoxSEND_N_COP_READ_USER_ID->currentText()));
}

void Panel433::BitBtnSEND_COP_WR_USER_IDClick() {
    send(cmd::SendCopWrUserId(ComboBoxTagManufacturerID->currentText(),
                              ComboBoxTagSerialNumber->currentText(),
                              ComboBox_util_SEND_COP_WR_USER_ID_Len->currentText(),
                              ComboBox_util_SEND_COP_WR_USER_ID->currentText()));
}

void Panel433::BitBtn_util_SEND_COP_READ_MEMORYClick() {
    send(cmd::SendCopReadMemory(ComboBoxTagManufacturerID->currentText(),
                                ComboBoxTagSerialNumber->currentText(),
                                ComboBox_util_SEND_COP_WR_MEMORY_Length->currentText(),
                                ComboBox_util_SEND_COP_WR_MEMORY_Addr->currentText()));
}

void Panel433::BitBtn_util_SEND_COP_WR_MEMORYClick() {
    send(cmd::SendCopWrMemory(ComboBoxTagManufacturerID->currentText(),
                              ComboBoxTagSerialNumber->currentText(),
                              ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length->currentText(),
                              ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr->currentText(),
                              ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data->currentText()));
}

void Panel433::BitBtnLabPeriod250msClick() {
    send(cmd::LoadPeriod(ComboBoxTagManufacturerID->currentText(), ComboBoxTagSerialNumber->currentText(),
                         ComboBoxLabPeriod250ms->currentText()));
}

void Panel433::BitBtn433_TimerClick() {
    if (Timer433->enabled()) {
        Timer433->setEnabled(false);
        SetFontColor(BitBtn433_Timer, colors::black());
    } else {
        Timer433->setEnabled(true);
        SetFontColor(BitBtn433_Timer, colors::red());
    }
}

void Panel433::Timer433Timer() {
    shell_.SEND_STRING_COMA(shell_.ConsoleCommand());
}

// ---- What the window asks of the page ------------------------------------------------------

QString Panel433::collectionCommand() const {
    return cmd::SendCopCollection(ComboBox433_WindowSize->currentText(),
                                  ComboBox433_MaxPacketLength->currentText(),
                                  ComboBox433_UDBTypeCode->currentText(), ComboBox433_TimeOut->currentText());
}

} // namespace rd
