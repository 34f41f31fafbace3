#include "tools/saw_monitor.h"

#include "tools/page_style.h"
#include "tools/saw_trends.h"
#include "tools/tool_text.h"

#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "kit/widgets.h"
#include "panels/commands.h"

#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace rd {

namespace {
const char* const kTagIds[3] = {"EEEE-FEDCBAF0", "EEEE-FEDCBAF1", "EEEE-FEDCBAF2"};
const char* const kReadNames[3] = {"BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0",
                                   "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1",
                                   "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2"};
const char* const kReadCaptions[3] = {"SEND_COP_READ_USER_ID EEEE FEDCBAF0",
                                      "SEND_COP_READ_USER_ID EEEE FEDCBAF1",
                                      "SEND_COP_READ_USER_ID EEEE FEDCBAF2"};
} // namespace

const QStringList& SawMonitorPage::Presets() {
    static const QStringList presets = {
        QStringLiteral("VERSION"),
        QStringLiteral("SHT_T_RH"),
        QString(),
        QStringLiteral("ADF4360_ON"),
        QStringLiteral("ADF4360_OFF"),
        QString(),
        QStringLiteral("ADF4360_LOAD_LATCH_STRUCTURE_A_B_R 0 5400 1000"),
        QStringLiteral("ADF4360_LOAD_LATCH_STRUCTURE_A_B_R 0 5360 1000"),
        QString(),
        QStringLiteral("SET_RF_KHZ 430000"),
        QStringLiteral("SET_RF_KHZ 431000"),
        QStringLiteral("SET_RF_KHZ 432000"),
        QStringLiteral("SET_RF_KHZ 433000"),
        QStringLiteral("SET_RF_KHZ 434000"),
        QStringLiteral("SET_RF_KHZ 435000"),
        QStringLiteral("SET_RF_KHZ 436000"),
        QString(),
        QStringLiteral("SCAN_FROM_TO_STEP_T 430000 437000 100 1000"),
    };
    return presets;
}

SawMonitorPage::SawMonitorPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetZEZ2011"));

    com_ = MakeButton(this, QStringLiteral("BitBtnZEZ2011_COM"), QStringLiteral("COM"), colors::black(),
                      tr("Find the sensor-tag reader"));
    collection_ = MakeButton(this, QStringLiteral("BitBtnZEZ2011_COLLECTION"), QStringLiteral("COLLECTION"),
                             colors::blue(), tr("Collect the tags once"));
    timerButton_ = MakeButton(this, QStringLiteral("BitBtnTimerZEZ2011"), QStringLiteral("TIMER"),
                              colors::blue(), tr("Start or stop the periodic collection"));
    period_ = MakeCombo(this, QStringLiteral("ComboBoxTomerZEZ2011Period"), QStringLiteral("150"),
                        {QStringLiteral("60"), QStringLiteral("120"), QStringLiteral("180"),
                         QStringLiteral("300"), QStringLiteral("600")},
                        tr("Collection period in seconds"), tr("Collection period"));
    timerCount_ = MakeLabel(this, QStringLiteral("LabelZEZ2011TimerCount"), QStringLiteral("cntr"));
    SetPageFont(timerCount_, QString(), 19, true);

    for (int i = 0; i < 3; ++i) {
        read_[i] = MakeButton(this, QString::fromLatin1(kReadNames[i]), QString::fromLatin1(kReadCaptions[i]),
                              i == 2 ? colors::blue() : colors::black(),
                              tr("Read the user ID record of tag %1").arg(QString::fromLatin1(kTagIds[i])));
        tagLabel_[i] = MakeLabel(this, QStringLiteral("LabelZEZ2011_%1").arg(i), QStringLiteral("Lab"));
        SetPageFont(tagLabel_[i], QString(), 19, true);
        // A reading wraps inside the label's columns: its length never widens the page.
        tagLabel_[i]->setWordWrap(true);
        tagLabel_[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    info_ = new TMemo(QStringLiteral("MemoZEZ2011_Info"), this);
    info_->setMaxLines(kDisplayLogLines);
    info_->setAccessibleName(tr("sensor-tag messages"));
    SetPageFont(info_, QStringLiteral("Courier New"), 0, false);
    send_ = MakeButton(this, QStringLiteral("BitBtnZEZ2011_SEND"), QStringLiteral("SEND"), colors::black(),
                       tr("Send the command text"));
    sendText_ = MakeCombo(this, QStringLiteral("ComboBoxZEZ2011_SEND"), QStringLiteral("VERSION"), Presets(),
                          tr("Command text"), tr("Command text"));
    rxd_ = new TMemo(QStringLiteral("MemoZEZ2011"), this);
    rxd_->setMaxLines(kDisplayLogLines);
    rxd_->setAccessibleName(tr("received answers"));
    rxd_->append(QStringLiteral("MemoZEZ2011"));
    data_ = new TMemo(QStringLiteral("MemoSAW_DATA"), this);
    data_->setAccessibleName(tr("sensor data lines"));
    file_ = MakeButton(this, QStringLiteral("BitBtnZEZ2011_File"), QStringLiteral("FILE"), colors::blue(),
                       tr("Save the data lines"));
    timer_ = new FormTimer(QStringLiteral("TimerZEZ2011"), 1000, false, this);
    trends_ = new SawTrends(this, model_, [this](int tag) { sendRead(tag); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(com_, 0, 0);
    grid->addWidget(collection_, 0, 1);
    grid->addWidget(timerButton_, 0, 2);
    grid->addWidget(period_, 0, 3);
    grid->addWidget(timerCount_, 0, 4);
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(read_[i], 1 + i, 0, 1, 2);
        grid->addWidget(tagLabel_[i], 1 + i, 2, 1, 4);
    }
    grid->addWidget(send_, 4, 0);
    grid->addWidget(sendText_, 4, 1, 1, 3);
    grid->addWidget(file_, 4, 4);
    grid->addWidget(info_, 5, 0, 1, 2);
    grid->addWidget(rxd_, 5, 2, 1, 2);
    grid->addWidget(data_, 5, 4, 1, 2);
    grid->addWidget(trends_->readAfterBox(), 0, 5);
    grid->addWidget(trends_->csvButton(), 4, 5, Qt::AlignLeft);
    grid->addWidget(trends_->chartView(), 6, 0, 1, 6);
    grid->setRowStretch(5, 1);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(5, 1);

    OnClick(collection_, [this] { BitBtnZEZ2011_COLLECTIONClick(); });
    OnClick(send_, [this] { BitBtnZEZ2011_SENDClick(); });
    OnClick(timerButton_, [this] { BitBtnTimerZEZ2011Click(); });
    OnClick(file_, [this] { BitBtnZEZ2011_FileClick(); });
    OnClick(read_[0], [this] { BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0Click(); });
    OnClick(read_[1], [this] { BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1Click(); });
    OnClick(read_[2], [this] { BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2Click(); });
    info_->onDoubleClick([this] { MemoZEZ2011_InfoDblClick(); });
    timer_->onTimer([this] { TimerZEZ2011Timer(); });
    OnClick(com_, [this] { emit findReaderClicked(); });
}

void SawMonitorPage::MemoZEZ2011_InfoDblClick() {
    info_->clear();
    collection_->setEnabled(true);
}

QString SawMonitorPage::collectionCommand() {
    // The 433 MHz page's collection: its four collection boxes as typed.
    return shell_.CollectionCommand();
}

void SawMonitorPage::BitBtnZEZ2011_COLLECTIONClick() {
    shell_.SEND_STRING_COMA(collectionCommand());
}

void SawMonitorPage::BitBtnZEZ2011_SENDClick() {
    shell_.SEND_STRING_COMA(sendText_->currentText());
}

void SawMonitorPage::BitBtnTimerZEZ2011Click() {
    if (model_.periodicOn()) {
        timer_->setEnabled(false);
        info_->append(model_.stopPeriodic());
        timerButton_->setText(QStringLiteral("TIMER"));
        SetFontColor(timerButton_, colors::black());
        timerCount_->setText(QString());
        return;
    }
    const int32_t period = StrToInt(period_->currentText());
    for (const QString& line : model_.startPeriodic(period))
        info_->append(line);
    timer_->setEnabled(true);
}

void SawMonitorPage::TimerZEZ2011Timer() {
    const SawMonitorModel::PeriodicTick tick = model_.periodicTick();
    if (tick.collect) {
        shell_.SEND_STRING_COMA(collectionCommand());
        info_->append(tick.message);
    }
    SetFontColor(timerButton_, tick.blinkRed ? colors::red() : colors::black());
    timerCount_->setText(tick.countText);
}

void SawMonitorPage::BitBtnZEZ2011_FileClick() {
    const QString base =
        ExecuteSaveDialog(this, QStringLiteral("SaveDialogZEZ2011"), TimeFileName(TimeText()));
    if (base.isEmpty())
        return;
    WriteTextLinesFile(base + QStringLiteral("-ZEZ2011.txt"), data_->lines()->lines(), FileText::AnswerBytes);
}

void SawMonitorPage::BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0Click() {
    sendRead(0);
}

void SawMonitorPage::BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1Click() {
    sendRead(1);
}

void SawMonitorPage::BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2Click() {
    sendRead(2);
}

void SawMonitorPage::sendRead(int tag) {
    // The command is the button's caption with its closing blank.
    shell_.SEND_STRING_COMA(QString::fromLatin1(kReadCaptions[tag]) + QLatin1Char(' '));
    SetFontColor(read_[tag], colors::green());
}

void SawMonitorPage::SawAnswer(const QString& answer) {
    const SawMonitorModel::Outcome out = model_.answer(answer);
    if (out.clearInfo)
        info_->clear();
    for (const QString& line : out.info)
        info_->append(line);
    if (out.collectionEnabled)
        collection_->setEnabled(*out.collectionEnabled);
    if (out.labelTag >= 0)
        tagLabel_[out.labelTag]->setText(out.label);
    if (!out.dataLine.isEmpty())
        data_->append(out.dataLine);
    if (out.readAnswered)
        blackenReadButtons();
    trends_->show(out);
}

void SawMonitorPage::blackenReadButtons() {
    for (QPushButton* b : read_)
        SetFontColor(b, colors::black());
}

void SawMonitorPage::resetForStart() {
    info_->clear();
    timerCount_->clear();
    for (QLabel* l : tagLabel_)
        l->clear();
    data_->clear();
}

void SawMonitorPage::readerSearchStarted() {
    info_->clear();
    info_->append(QStringLiteral("wait.."));
}

void SawMonitorPage::readerFound(const QString& message) {
    info_->clear();
    info_->append(message);
    SetFontColor(com_, colors::green());
}

void SawMonitorPage::readerNotFound(const QString& message) {
    info_->clear();
    info_->append(message);
    SetFontColor(com_, colors::red());
}

void SawMonitorPage::readerGone() {
    SetFontColor(com_, colors::black());
}

void SawMonitorPage::showReceived(const QString& answer) {
    rxd_->append(QStringLiteral("RXD:") + answer);
}

} // namespace rd
