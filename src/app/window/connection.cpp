// The connection to a found reader: the receiver thread, the end of a connection, a lost
// connection and the attempts to reopen it, and the hints on the port box and status label.
#include "app/window/main_window.h"
#include "tools/sweep_page.h"

#include "kit/conv.h"

#include "app/window/main_timer.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "kit/widgets.h"
#include "link/discovery.h"
#include "link/serial_port.h"
#include "tools/ant_test.h"
#include "tools/kamaz.h"
#include "tools/saw_monitor.h"

#include <QComboBox>
#include <QLabel>

#include <utility>

namespace rd {

namespace {

const QString kStatusStart = QStringLiteral("STATUS");
const QString kPortBoxStart = QStringLiteral("----");
// After the settings text on the status label of a connection made by OPEN.
const QString kOpenedWithoutId = QStringLiteral(" (opened without identification)");

} // namespace

bool TFormQUOR::connected() const {
    return link_ && link_->connected();
}

void TFormQUOR::makeConnection() {
    link_ = std::make_unique<ReaderConnection>(
        [this](const std::string& line) {
            MemoUTIL_SEND->append(WidenBytes(line));
            if (scanning_)
                paintNow();
        },
        [this](const std::string& line) { appendTerminal(WidenBytes(line)); });
}

void TFormQUOR::startReceiver() {
    link_->start();
    droppedShown_ = 0;
    droppedNoticed_ = 0;
    droppedNoticeMs_ = -1;
    failedReadsShown_ = 0;
    TimerMAIN->setInterval(kMainIntervalScan);
    TimerMAIN->setEnabled(true);
}

void TFormQUOR::endConnection() {
    const bool wasLost = link_ && link_->lost();
    const bool had = connected() || wasLost;
    // A reader left running an inventory is told to stop before its port is given up.
    if (link_)
        link_->close();
    if (wasLost)
        LabelCOM_PORT_STATUS->setPalette(statusPalette_);
    // No confirmation can come any more. A run cut off by a loss or a stop never confirmed
    // stays so until the next start: the reader may still be running it.
    if (runState_ == RunState::Running || runState_ == RunState::Stopping)
        setRunState(RunState::Stopped);
    pageSWEEP->connectionEnded();
    if (!had)
        return;
    // Every control that showed the connection as it is without one.
    pageANT_TEST->readerGone();
    pageKAMAZ->readerGone();
    pageZEZ2011->readerGone();
    showLinkStatus();
    LabelCOM_PORT_STATUS->setText(kStatusStart);
    cbCOMPORT->setEditText(kPortBoxStart);
    updatePortHints();
}

void TFormQUOR::showLinkNews(const LinkNews& news) {
    const QString line = QString::fromStdString(news.line);
    switch (news.kind) {
    case LinkNews::Nothing:
        return;
    case LinkNews::Lost:
    case LinkNews::GaveUp:
        statusPalette_ = LabelCOM_PORT_STATUS->palette();
        LabelCOM_PORT_STATUS->setText(QString::fromStdString(link_->port()) +
                                      QStringLiteral(": connection lost"));
        SetFontColor(LabelCOM_PORT_STATUS, colors::red());
        appendTerminal(QStringLiteral("!! ") + line);
        pageANT_TEST->readerLost();
        runCutOff();
        break;
    case LinkNews::Reconnected:
        droppedShown_ = 0;
        droppedNoticed_ = 0;
        droppedNoticeMs_ = -1;
        failedReadsShown_ = 0;
        LabelCOM_PORT_STATUS->setPalette(statusPalette_);
        LabelCOM_PORT_STATUS->setText(connectedStatusText());
        appendTerminal(QStringLiteral("!! ") + line);
        if (!link_->manual() && link_->row() && link_->row()->group == ReaderGroup::Uhf900)
            pageANT_TEST->readerBack();
        stopRunAfterReconnect();
        break;
    }
    showLinkStatus();
    updatePortHints();
}

QString TFormQUOR::connectedStatusText() const {
    const QString text = QString::fromStdString(link_->settingsText());
    return link_->manual() ? text + kOpenedWithoutId : text;
}

void TFormQUOR::BitBtnUTIL_OPENClick() {
    if (scanning_)
        return;
    const QString port = cbCOMPORT->currentText().trimmed();
    // One connection at a time: the one there is ends first.
    endConnection();
    if (!link_)
        makeConnection();
    PortError why;
    try {
        why = link_->open(port.toStdString());
    } catch (const PortSetupError& e) {
        MemoUTIL_SEND->append(QStringLiteral("%1: %2").arg(port, QString::fromLatin1(e.what())));
        return;
    }
    if (!why.ok()) {
        MemoUTIL_SEND->append(QStringLiteral("%1: %2").arg(
            port, QString::fromStdString(why.text.empty() ? "cannot be opened" : why.text)));
        cbCOMPORT->setEditText(port);
        return;
    }
    startReceiver();
    LabelCOM_PORT_STATUS->setText(connectedStatusText());
    cbCOMPORT->setEditText(port);
    appendDiscovery(MemoUTIL_SEND, port + kOpenedWithoutId);
    showLinkStatus();
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
        const QString com = QString::fromStdString(link_->port());
        QString dev = QString::fromStdString(ResolvePortName(link_->port()));
        lines << QStringLiteral("%1 is %2").arg(com, dev.isEmpty() ? QStringLiteral("(no device)") : dev);
        LabelCOM_PORT_STATUS->setToolTip(lines.first() + trouble);
    } else if (link_ && link_->lost()) {
        LabelCOM_PORT_STATUS->setToolTip(QString::fromStdString(link_->port()) +
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
