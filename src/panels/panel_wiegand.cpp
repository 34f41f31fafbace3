#include "panel_wiegand.h"

#include "commands.h"
#include "conv.h"
#include "page_kit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>

namespace rd {

PanelWiegand::PanelWiegand(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetWG"));

    auto* sendString = MakeButton(this, QStringLiteral("BitBtnWG_SEND_STRING"), QStringLiteral("SEND"));
    ComboBoxWG_SEND_STRING =
        page::Box(this, QStringLiteral("ComboBoxWG_SEND_STRING"), QStringLiteral("VERSION"), 24,
                  QStringLiteral("controller command"),
                  {QStringLiteral("VERSION"), QString(), QStringLiteral("DS1302_GET_DATE_TIME"),
                   QStringLiteral("DS1302_SET_DATE_TIME"), QString(), QStringLiteral("WG_POWER_ON"),
                   QStringLiteral("WG_POWER_OFF")});
    auto* aOn = MakeButton(this, QStringLiteral("BitBtnWG_READER_A_ON"), QStringLiteral("READER_A_ON"));
    auto* aOff = MakeButton(this, QStringLiteral("BitBtnWG_READER_A_OFF"), QStringLiteral("READER_A_OFF"));
    auto* bOn = MakeButton(this, QStringLiteral("READER_B_ON"), QStringLiteral("READER_B_ON"));
    auto* bOff = MakeButton(this, QStringLiteral("READER_B_OFF"), QStringLiteral("READER_B_OFF"));
    auto* setTime = MakeButton(this, QStringLiteral("BitBtnWG_SetTime"), QStringLiteral("Set Time"));
    auto* getTime = MakeButton(this, QStringLiteral("BitBtnWG_GetTime"), QStringLiteral("Get Time"));

    QGridLayout* g = page::CompactGrid(this);
    g->addWidget(sendString, 0, 0);
    g->addWidget(ComboBoxWG_SEND_STRING, 0, 1);
    g->addWidget(aOn, 1, 0);
    g->addWidget(aOff, 2, 0);
    g->addWidget(bOn, 3, 0);
    g->addWidget(bOff, 4, 0);
    g->addWidget(setTime, 1, 3);
    g->addWidget(getTime, 2, 3);
    g->setColumnStretch(2, 1);
    g->setRowStretch(5, 1);

    OnClick(sendString, [this] { BitBtnWG_SEND_STRINGClick(); });
    OnClick(aOn, [this] { BitBtnWG_READER_A_ONClick(); });
    OnClick(aOff, [this] { BitBtnWG_READER_A_OFFClick(); });
    OnClick(bOn, [this] { READER_B_ONClick(); });
    OnClick(bOff, [this] { READER_B_OFFClick(); });
    OnClick(setTime, [this] { BitBtnWG_SetTimeClick(); });
    OnClick(getTime, [this] { BitBtnWG_GetTimeClick(); });
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
