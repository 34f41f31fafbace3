#include "panels/panel433.h"

#include "kit/form_timer.h"
#include "panels/commands.h"
#include "panels/page_kit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>

#include <algorithm>

namespace rd {

namespace {
const QString kMemoryAddressHint = QStringLiteral("смещение  (адрес) в памяти, HEX");
} // namespace

Panel433::Panel433(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheet433"));
    using namespace page;
    using P = Panel433;

    QStringList lengths;
    for (int i = 0; i <= 0x0C; ++i)
        lengths << QStringLiteral("%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
    QPushButton* impuls = nullptr;

    // Each row: the command's button, then its boxes left-aligned.
    // clang-format off
    QGridLayout* g = CompactGrid(this);
    Fill(this, g, {
        {0, 0, Button("BitBtn433_SEND_COP_COLLECTION", "SEND_COP_COLLECTION",
                      &P::BitBtn433_SEND_COP_COLLECTIONClick)},
        {0, 1, Strip{
            Box(&ComboBox433_WindowSize, "ComboBox433_WindowSize", "16", 3, "window size"),
            Box(&ComboBox433_MaxPacketLength, "ComboBox433_MaxPacketLength", "48", 3,
                "maximum packet length"),
            Box(&ComboBox433_UDBTypeCode, "ComboBox433_UDBTypeCode", "11", 3, "UDB type code"),
            Box(&ComboBox433_TimeOut, "ComboBox433_TimeOut", "3000", 4, "time-out"),
            Stretch(),
            Button("BitBtn433_impuls", "impuls", &P::BitBtn433_impulsClick).keep(&impuls),
        }},
        {1, 0, Button("BitBtn433_SEND_COP_SLEEP", "SEND_COP_SLEEP", &P::BitBtn433_SEND_COP_SLEEPClick)},
        {1, 1, Strip{
            Stretch(),
            Button("BitBtn433_Timer", "Timer", &P::BitBtn433_TimerClick).keep(&BitBtn433_Timer),
        }},
        {2, 0, Button("BitBtnSEND_COP_READ_USER_ID", "SEND_COP_READ_USER_ID",
                      &P::BitBtnSEND_COP_READ_USER_IDClick)},
        {2, 1, Strip{
            Box(&ComboBoxTagManufacturerID, "ComboBoxTagManufacturerID", "EEEE", 5, "tag manufacturer ID"),
            Box(&ComboBoxTagSerialNumber, "ComboBoxTagSerialNumber", "FEDCBA01", 9, "tag serial number")
                .items({"FEDCBA01", "FEDCBA02", "FEDCBA03", "FEDCBA04"}),
            Button("BitBtnSEND_COP_RSSI_READ_USER_ID", "SEND_COP_RSSI_READ_USER_ID",
                   &P::BitBtnSEND_COP_RSSI_READ_USER_IDClick),
            Button("BitBtnSEND_N_COP_READ_USER_ID", "SEND_N_COP_READ_USER_ID",
                   &P::BitBtnSEND_N_COP_READ_USER_IDClick),
            Box(&ComboBoxSEND_N_COP_READ_USER_ID, "ComboBoxSEND_N_COP_READ_USER_ID", "10", 3,
                "number of user ID reads"),
            Stretch(),
        }},
        {3, 0, Button("BitBtnSEND_COP_WR_USER_ID", "SEND_COP_WR_USER_ID",
                      &P::BitBtnSEND_COP_WR_USER_IDClick)},
        {3, 1, Strip{
            Box(&ComboBox_util_SEND_COP_WR_USER_ID_Len, "ComboBox_util_SEND_COP_WR_USER_ID_Len", "0C", 3,
                "number of user ID bytes to write")
                .items(lengths)
                .hint("количество записываемых байт (HEX) 0C максимум")
                .placeholder("количество записываемых байт (десятичное)"),
            Box(&ComboBox_util_SEND_COP_WR_USER_ID, "ComboBox_util_SEND_COP_WR_USER_ID",
                "00 11 22 33 44 55 66 77 88 99 AA BB", 36, "user ID bytes to write")
                .hint("записываемые данные, HEX побайтно через пробел"),
            Stretch(),
        }},
        {4, 0, Button("BitBtn_util_SEND_COP_READ_MEMORY", "SEND_COP_READ_MEMORY",
                      &P::BitBtn_util_SEND_COP_READ_MEMORYClick)},
        {4, 1, Strip{
            Box(&ComboBox_util_SEND_COP_WR_MEMORY_Length, "ComboBox_util_SEND_COP_WR_MEMORY_Length", "10", 3,
                "number of bytes to read")
                .hint("количество читаемых байт (HEX) 10 максимум"),
            Box(&ComboBox_util_SEND_COP_WR_MEMORY_Addr, "ComboBox_util_SEND_COP_WR_MEMORY_Addr", "0", 3,
                "memory address to read from")
                .hint(kMemoryAddressHint),
            Stretch(),
        }},
        {5, 0, Button("BitBtn_util_SEND_COP_WR_MEMORY", "SEND_COP_WR_MEMORY",
                      &P::BitBtn_util_SEND_COP_WR_MEMORYClick)},
        {5, 1, Strip{
            Box(&ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length,
                "ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length", "10", 3, "number of bytes to write")
                .hint("количество записываемых байт (HEX) 10 максимум"),
            Box(&ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr,
                "ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr", "0", 3, "memory address to write to")
                .hint(kMemoryAddressHint),
            Box(&ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data,
                "ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data",
                "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 48, "memory bytes to write"),
            Stretch(),
        }},
        {6, 0, Button("BitBtnLabPeriod250ms", "LoadPeriod", &P::BitBtnLabPeriod250msClick)
                   .hint("загружает в адрес 20h период пробуждения метки (кратно 250мс)")},
        {6, 1, Strip{
            Box(&ComboBoxLabPeriod250ms, "ComboBoxLabPeriod250ms", "4", 3,
                "wake-up period in steps of 250 ms")
                .hint("период HEX")
                .placeholder("8"),
            Stretch(),
        }},
    });
    // clang-format on
    g->setColumnStretch(1, 1);
    g->setRowStretch(7, 1);

    // "Timer" stands right under "impuls", with the same width.
    const int rightWidth = std::max(impuls->sizeHint().width(), BitBtn433_Timer->sizeHint().width());
    impuls->setMinimumWidth(rightWidth);
    BitBtn433_Timer->setMinimumWidth(rightWidth);

    Timer433 = new FormTimer(QStringLiteral("Timer433"), 2000, false, this);
    Timer433->onTimer([this] { Timer433Timer(); });
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
