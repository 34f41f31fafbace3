#include "panels/panel_wiegand.h"

#include "kit/conv.h"
#include "panels/commands.h"
#include "panels/page_kit.h"

#include <QComboBox>
#include <QGridLayout>

namespace rd {

PanelWiegand::PanelWiegand(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetWG"));
    using namespace page;
    using P = PanelWiegand;

    // clang-format off
    QGridLayout* g = CompactGrid(this);
    Fill(this, g, {
        {0, 0, Button("BitBtnWG_SEND_STRING", "SEND", &P::BitBtnWG_SEND_STRINGClick)},
        {0, 1, Box(&ComboBoxWG_SEND_STRING, "ComboBoxWG_SEND_STRING", "VERSION", 24, "controller command")
                   .items({"VERSION", "", "DS1302_GET_DATE_TIME", "DS1302_SET_DATE_TIME", "", "WG_POWER_ON",
                           "WG_POWER_OFF"})},
        {1, 0, Button("BitBtnWG_READER_A_ON", "READER_A_ON", &P::BitBtnWG_READER_A_ONClick)},
        {2, 0, Button("BitBtnWG_READER_A_OFF", "READER_A_OFF", &P::BitBtnWG_READER_A_OFFClick)},
        {3, 0, Button("READER_B_ON", "READER_B_ON", &P::READER_B_ONClick)},
        {4, 0, Button("READER_B_OFF", "READER_B_OFF", &P::READER_B_OFFClick)},
        {1, 3, Button("BitBtnWG_SetTime", "Set Time", &P::BitBtnWG_SetTimeClick)},
        {2, 3, Button("BitBtnWG_GetTime", "Get Time", &P::BitBtnWG_GetTimeClick)},
    });
    // clang-format on
    g->setColumnStretch(2, 1);
    g->setRowStretch(5, 1);
}

// The console's address box is read through the window at each send, so nothing needs
// hooking here.
void PanelWiegand::attachToWindow() {}

void PanelWiegand::send(const QString& text) {
    shell_.SEND_STRING_COMA(text);
}

void PanelWiegand::BitBtnWG_SEND_STRINGClick() {
    send(ComboBoxWG_SEND_STRING->currentText());
}

void PanelWiegand::BitBtnWG_READER_A_ONClick() {
    send(cmd::WgReaderAOn());
}

void PanelWiegand::BitBtnWG_READER_A_OFFClick() {
    send(cmd::WgReaderAOff());
}

void PanelWiegand::READER_B_ONClick() {
    send(cmd::WgReaderBOn());
}

void PanelWiegand::READER_B_OFFClick() {
    send(cmd::WgReaderBOff());
}

// Date and time come from one reading of the clock, so a click at midnight cannot pair
// the old day's time with the new day's date.
void PanelWiegand::BitBtnWG_SetTimeClick() {
    send(cmd::Ds1302SetDateTime(Now()));
}

void PanelWiegand::BitBtnWG_GetTimeClick() {
    send(cmd::Ds1302GetDateTime());
}

} // namespace rd
