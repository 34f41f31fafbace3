// Sending and the console: every command goes out through SendStringLine; the console's
// presets and boxes of the UTIL page, the terminal and discovery lines, the traffic log.
#include "app/window/main_window.h"

#include "app/window/traffic_log.h"
#include "kit/conv.h"
#include "kit/line_list.h"
#include "kit/settings.h"
#include "link/com_a.h"
#include "panels/panel433.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace rd {

namespace {

// Calls onEnter for Return or Enter pressed in its parent, and takes the key.
class EnterKey : public QObject {
  public:
    EnterKey(QWidget* parent, std::function<void()> onEnter) : QObject(parent), onEnter_(std::move(onEnter)) {
        parent->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                onEnter_();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> onEnter_;
};

} // namespace

QStringList ConsolePresets() {
    const QString e;
    return {QStringLiteral("VERSION"),
            e,
            QStringLiteral("ARM_GET_DEF_STRUCT"),
            QStringLiteral("POWER_ON"),
            QStringLiteral("POWER_OFF"),
            e,
            e,
            QStringLiteral("GET_TEMPERATURE"),
            QStringLiteral("SHT_RH"),
            QStringLiteral("SHT_T_RH"),
            e,
            QStringLiteral("SEND_COP_READ_MEMORY  EEEE FEDCBA01  10  0"),
            QStringLiteral(
                "SEND_COP_WR_MEMORY EEEE FEDCBA01  10 0  00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"),
            e,
            QStringLiteral("SEND_COP_COLLECTION 8 48 11 2000        L L H L"),
            e,
            QStringLiteral("SEND_COP_ALL_SLEEP_BUT EEEE FEDCBA01"),
            QStringLiteral("SEND_COP_ALL_SLEEP_BUT EEEE FEDCBA02"),
            e,
            QStringLiteral("SEND_COP_READ_USER_ID  EEEE FEDCBA01"),
            e,
            e,
            QStringLiteral("SEND_COP_ALL_USER_ID_RD"),
            QStringLiteral("SEND_COP_CURR_USER_ID_RD EEEE FEDCBA01"),
            e,
            QStringLiteral("SEND_WAKE_UP_IMPULS 2"),
            QStringLiteral("SEND_WAKE_UP_IMPULS 1"),
            QStringLiteral("SEND_WAKE_UP_IMPULS 0"),
            QStringLiteral("GET_ADC "),
            QStringLiteral("GET_SLOT 8"),
            e,
            QStringLiteral("MRF49_TRANSMIT_ON"),
            QStringLiteral("MRF49_RECEIVE_ON"),
            QStringLiteral("MRF49_TEST_SEND 10"),
            QStringLiteral("MRF49_SEND_USART_WORDS 1000 5A"),
            e,
            QStringLiteral("MRF49_CENTER_FREQUENCY_SET 43392"),
            QStringLiteral("MRF49_CENTER_FREQUENCY_SET 43390"),
            QStringLiteral("MRF49_CENTER_FREQUENCY_SET 43377"),
            e,
            QStringLiteral("MRF49_SW_REC_MODE"),
            QStringLiteral("MRF49_SW_SEND_MODE_H"),
            QStringLiteral("MRF49_SW_SEND_MODE_L"),
            e,
            QStringLiteral("MRF49_SET_FSK 0"),
            QStringLiteral("MRF49_SET_FSK 1")};
}

void TFormQUOR::SendStringLine(const QString& NetADDR, const QString& SendStr) {
    if (!connected())
        return;
    const int address = StrToInt(NetADDR);
    // The frame has one byte for it: anything else would go out as another address.
    if (address < 0 || address > 255)
        throw AppError(QStringLiteral("Bad value in the net address box (ComboBoxUTIL_ADDR): %1; "
                                      "an address is 0 to 255")
                           .arg(NetADDR.trimmed()));
    const PortError e = link_->send(address, SendStr.toStdU16String());
    if (!e.ok())
        appendTerminal(QStringLiteral("!! %1: write failed: %2")
                           .arg(QString::fromStdString(link_->port()), QString::fromStdString(e.text)));
    noteRunCommand(SendStr);
}

void TFormQUOR::SEND_STRING_COMA(const QString& str) {
    SendStringLine(ComboBoxUTIL_ADDR->currentText(), str);
}

void TFormQUOR::BitBtnUTIL_SEND_COMMANDClick() {
    const QString command = ComboBoxUTIL_COMMAND->currentText();
    const QString address = ComboBoxUTIL_ADDR->currentText();
    SendStringLine(address, command);
    if (connected())
        rememberCommand(command);
}

void TFormQUOR::setupConsoleHistory() {
    if (auto settings = OpenSettings())
        consoleHistory_.load(settings->value(QLatin1String(ConsoleHistory::kKey)).toStringList());
    if (!consoleHistory_.items().isEmpty()) {
        const QString text = ComboBoxUTIL_COMMAND->currentText();
        const QSignalBlocker quiet(ComboBoxUTIL_COMMAND);
        ComboBoxUTIL_COMMAND->insertItems(0, consoleHistory_.items());
        ComboBoxUTIL_COMMAND->setEditText(text);
    }
    // Enter in the console sends as SEND does. The key is taken here: the line edit passes it
    // on to the box, which hands it back to the line edit, so that returnPressed comes twice.
    new EnterKey(ComboBoxUTIL_COMMAND->lineEdit(), [this] { BitBtnUTIL_SEND_COMMAND->click(); });
}

void TFormQUOR::rememberCommand(const QString& command) {
    // A preset is in the list already: only other commands are kept.
    if (ConsolePresets().contains(command))
        return;
    const int before = int(consoleHistory_.items().size());
    if (!consoleHistory_.add(command))
        return;
    {
        const QString text = ComboBoxUTIL_COMMAND->currentText();
        const QSignalBlocker quiet(ComboBoxUTIL_COMMAND);
        for (int i = 0; i < before; ++i)
            ComboBoxUTIL_COMMAND->removeItem(0);
        ComboBoxUTIL_COMMAND->insertItems(0, consoleHistory_.items());
        ComboBoxUTIL_COMMAND->setEditText(text);
    }
    if (auto settings = OpenSettings())
        settings->setValue(QLatin1String(ConsoleHistory::kKey), consoleHistory_.items());
}

QString TFormQUOR::ConsoleCommand() const {
    return ComboBoxUTIL_COMMAND->currentText();
}

QString TFormQUOR::CollectionCommand() const {
    return page433->collectionCommand();
}

void TFormQUOR::AppendReceived(const QString& line) {
    MemoUTIL_REC->append(line);
}

void TFormQUOR::MemoUTIL_SENDDblClick() {
    MemoUTIL_SEND->clear();
}

void TFormQUOR::MemoUTIL_RECDblClick() {
    MemoUTIL_REC->clear();
}

void TFormQUOR::MemoTERMINALDblClick() {
    MemoTERMINAL->clear();
    terminalLines_.clear();
}

// ---------------------------------------------------------------------------------------
// Lines

void TFormQUOR::appendTerminal(const QString& line) {
    if (!terminalClock_.isValid())
        terminalClock_.start();
    MemoTERMINAL->append(
        terminalLines_.add(line, QDateTime::currentMSecsSinceEpoch(), terminalClock_.elapsed()));
    writeTrafficLog(line);
}

void TFormQUOR::appendRecordedTerminal(const QString& line, int64_t wallMs, int64_t steadyMs) {
    MemoTERMINAL->append(terminalLines_.add(line, wallMs, steadyMs));
}

void TFormQUOR::buildTerminalSwitches(QVBoxLayout* page) {
    CheckBoxTRM_TIME = new QCheckBox(QStringLiteral("time"), TabSheetTERMINAL);
    CheckBoxTRM_TIME->setObjectName(QStringLiteral("CheckBoxTRM_TIME"));
    CheckBoxTRM_TIME->setToolTip(QStringLiteral("the time to the millisecond in front of each line"));
    ComboBoxTRM_FORM = new QComboBox(TabSheetTERMINAL);
    ComboBoxTRM_FORM->setObjectName(QStringLiteral("ComboBoxTRM_FORM"));
    ComboBoxTRM_FORM->setAccessibleName(QStringLiteral("answers shown as"));
    ComboBoxTRM_FORM->addItems({QStringLiteral("hex"), QStringLiteral("text"), QStringLiteral("hex + text")});
    CheckBoxTRM_ROUND_TRIP = new QCheckBox(QStringLiteral("round trip"), TabSheetTERMINAL);
    CheckBoxTRM_ROUND_TRIP->setObjectName(QStringLiteral("CheckBoxTRM_ROUND_TRIP"));
    CheckBoxTRM_ROUND_TRIP->setToolTip(
        QStringLiteral("the time since the request behind an answer that repeats its counter"));
    auto* row = new QHBoxLayout;
    row->addWidget(CheckBoxTRM_TIME);
    row->addWidget(ComboBoxTRM_FORM);
    row->addWidget(CheckBoxTRM_ROUND_TRIP);
    row->addStretch(1);
    page->addLayout(row);
    connect(CheckBoxTRM_TIME, &QCheckBox::toggled, this, [this] { showTerminalLines(); });
    connect(CheckBoxTRM_ROUND_TRIP, &QCheckBox::toggled, this, [this] { showTerminalLines(); });
    connect(ComboBoxTRM_FORM, &QComboBox::currentIndexChanged, this, [this] { showTerminalLines(); });
}

void TFormQUOR::showTerminalLines() {
    TerminalSwitches s;
    s.time = CheckBoxTRM_TIME->isChecked();
    s.form = TerminalSwitches::Form(std::max(0, ComboBoxTRM_FORM->currentIndex()));
    s.roundTrip = CheckBoxTRM_ROUND_TRIP->isChecked();
    terminalLines_.setSwitches(s);
    MemoTERMINAL->lines()->setLines(terminalLines_.shown());
    MemoTERMINAL->scrollToBottom();
}

void TFormQUOR::appendDiscovery(TMemo* memo, const QString& line) {
    if (memo)
        memo->append(line);
    writeTrafficLog(line);
}

void TFormQUOR::writeTrafficLog(const QString& line) {
    if (!trafficLog_ || trafficLog_->write(line))
        return;
    // Said once, where the user looks: the log ends here rather than fail on every line.
    const std::unique_ptr<TrafficLog> log = std::move(trafficLog_);
    trafficLogFailed_ = true;
    const QString told = QStringLiteral("!! traffic log %1 cannot be written: %2; it stops here")
                             .arg(QDir::toNativeSeparators(log->path()), log->errorString());
    MemoUTIL_SEND->append(told);
    appendTerminal(told);
}

void TFormQUOR::setTrafficLog(const QString& path) {
    trafficLog_.reset();
    trafficLogFailed_ = false;
    statusBar_->showLog(QString());
    if (!path.isEmpty()) {
        trafficLog_ = std::make_unique<TrafficLog>(path);
        statusBar_->showLog(path);
    }
}

} // namespace rd
