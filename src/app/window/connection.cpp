// The connection to a found reader: the receiver thread, the end of a connection, a lost
// connection and the attempts to reopen it, and the hints on the port box and status label.
#include "app/window/main_window.h"

#include "app/window/main_timer.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "kit/widgets.h"
#include "link/com_a.h"
#include "link/discovery.h"
#include "link/serial_port.h"

#include <QComboBox>
#include <QLabel>

#include <utility>

namespace rd {

namespace {

const QString kStatusStart = QStringLiteral("STATUS");
const QString kPortBoxStart = QStringLiteral("----");
// After the settings text on the status label of a connection made by OPEN.
const QString kOpenedWithoutId = QStringLiteral(" (opened without identification)");
// A lost reader's port is tried again this often.
constexpr qint64 kReconnectIntervalMs = 1000;

} // namespace

bool TFormQUOR::connected() const {
    return my_COM_A && my_COM_A->COM;
}

void TFormQUOR::startReceiver() {
    startReceiverThread();
    TimerMAIN->setInterval(kMainIntervalScan);
    TimerMAIN->setEnabled(true);
}

void TFormQUOR::startReceiverThread() {
    my_COM_A->COM = std::make_shared<TCOM_A>(my_COM_A->hPORT, my_COM_A->CommPort, 3);
    droppedShown_ = 0;
    failedReadsShown_ = 0;
}

void TFormQUOR::closeLink() {
    if (!my_COM_A)
        return;
    if (std::shared_ptr<TCOM_A> com = std::exchange(my_COM_A->COM, nullptr)) {
        com->requestStop();
        com.reset(); // the only holder: this joins the thread
    }
    if (my_COM_A->hPORT != 0 && my_COM_A->hPORT != INVALID_PORT_HANDLE)
        ClosePort(my_COM_A->hPORT);
    my_COM_A->hPORT = 0;
}

void TFormQUOR::endConnection() {
    const bool had = connected() || lost_;
    // A reader left running an inventory is told to stop before its port is given up.
    stopRunBeforeClose();
    closeLink();
    if (lost_)
        LabelCOM_PORT_STATUS->setPalette(statusPalette_);
    lost_ = false;
    connectedRow_ = nullptr;
    manual_ = false;
    // No confirmation can come any more.
    setRunState(RunState::Stopped);
    if (!had)
        return;
    LabelCOM_PORT_STATUS->setText(kStatusStart);
    cbCOMPORT->setEditText(kPortBoxStart);
    updatePortHints();
}

void TFormQUOR::onConnectionLost() {
    const QString port = QString::fromStdString(my_COM_A->CommPort);
    // The failed reads that lost it, with their cause, are shown before the thread goes.
    if (connected())
        showDroppedBytes(*my_COM_A->COM);
    closeLink();
    lost_ = true;
    sinceReconnectTry_.start();
    statusPalette_ = LabelCOM_PORT_STATUS->palette();
    LabelCOM_PORT_STATUS->setText(port + QStringLiteral(": connection lost"));
    SetFontColor(LabelCOM_PORT_STATUS, colors::red());
    appendTerminal(QStringLiteral("!! %1: connection lost").arg(port));
    updatePortHints();
}

void TFormQUOR::tryReconnect() {
    if (sinceReconnectTry_.elapsed() < kReconnectIntervalMs)
        return;
    sinceReconnectTry_.start();
    // The same port and the same reader only; a port that another program holds does not
    // open (the open is exclusive).
    bool found = false;
    try {
        // A port opened without identification comes back the same way.
        if (manual_)
            found = my_COM_A->create_port(my_COM_A->CommPort, kPortSettings).ok();
        else
            found = connectedRow_ && my_COM_A
                                         ->check_port(my_COM_A->CommPort, kProbeAddress, kPortSettings,
                                                      kProbeCommand, connectedRow_->identifier)
                                         .found;
    } catch (const PortSetupError&) {
        found = false; // the port has been closed again; the next attempt comes in a second
    }
    if (!found)
        return;
    startReceiverThread();
    lost_ = false;
    LabelCOM_PORT_STATUS->setPalette(statusPalette_);
    LabelCOM_PORT_STATUS->setText(connectedStatusText());
    appendTerminal(QStringLiteral("!! %1: reconnected").arg(QString::fromStdString(my_COM_A->CommPort)));
    updatePortHints();
}

QString TFormQUOR::connectedStatusText() const {
    const QString text = QString::fromStdString(my_COM_A->CommPortStr);
    return manual_ ? text + kOpenedWithoutId : text;
}

void TFormQUOR::BitBtnUTIL_OPENClick() {
    if (scanning_)
        return;
    const QString port = cbCOMPORT->currentText().trimmed();
    // One connection at a time: the one there is ends first.
    endConnection();
    if (!my_COM_A)
        makePortObject();
    const std::string name = port.toStdString();
    PortError openError;
    try {
        openError = my_COM_A->create_port(name, kPortSettings);
    } catch (const PortSetupError& e) {
        MemoUTIL_SEND->append(QStringLiteral("%1: %2").arg(port, QString::fromLatin1(e.what())));
        return;
    }
    if (!openError.ok()) {
        const std::string why = openError.text;
        MemoUTIL_SEND->append(QStringLiteral("%1: %2").arg(
            port, QString::fromStdString(why.empty() ? "cannot be opened" : why)));
        cbCOMPORT->setEditText(port);
        return;
    }
    my_COM_A->CommPort = name;
    my_COM_A->CommPortStr = name + kPortSettings;
    manual_ = true;
    startReceiver();
    LabelCOM_PORT_STATUS->setText(connectedStatusText());
    cbCOMPORT->setEditText(port);
    appendDiscovery(MemoUTIL_SEND, port + kOpenedWithoutId);
    updatePortHints();
}

void TFormQUOR::BitBtnUTIL_CLOSEClick() {
    if (scanning_)
        return;
    endConnection();
}

void TFormQUOR::refreshPortList() {
    const QString text = cbCOMPORT->currentText();
    QStringList names;
    for (const auto& [name, path] : ListPorts(kLastPort))
        names << QString::fromStdString(name);
    cbCOMPORT->clear();
    cbCOMPORT->addItems(names);
    cbCOMPORT->setEditText(text);
}

void TFormQUOR::updatePortHints() {
    QStringList lines;
    // What became of the connection's bytes and reads, while it is there or lost.
    QString trouble;
    if (droppedShown_)
        trouble += QStringLiteral("\n%1 bytes lost: receive buffer full").arg(droppedShown_);
    if (failedReadsShown_)
        trouble += QLatin1Char('\n') + failedReadsHint_;
    if (connected()) {
        const QString com = QString::fromStdString(my_COM_A->COM->CommPort);
        QString dev = QString::fromStdString(ResolvePortName(my_COM_A->COM->CommPort));
        lines << QStringLiteral("%1 is %2").arg(com, dev.isEmpty() ? QStringLiteral("(no device)") : dev);
        LabelCOM_PORT_STATUS->setToolTip(lines.first() + trouble);
    } else if (lost_ && my_COM_A) {
        LabelCOM_PORT_STATUS->setToolTip(QString::fromStdString(my_COM_A->CommPort) +
                                         QStringLiteral(": connection lost") + trouble);
    } else {
        LabelCOM_PORT_STATUS->setToolTip(QStringLiteral("no reader connected"));
    }
    const auto ports = ListPorts(kLastPort);
    if (ports.empty()) {
        lines << QStringLiteral("no serial ports found");
    } else {
        lines << QStringLiteral("ports:");
        for (const auto& [name, path] : ports)
            lines << QStringLiteral("%1 = %2").arg(QString::fromStdString(name),
                                                   QString::fromStdString(path));
    }
    cbCOMPORT->setToolTip(lines.join(QLatin1Char('\n')));
}

} // namespace rd
