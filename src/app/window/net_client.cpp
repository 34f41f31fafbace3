// The network client of the UTIL page: a reader behind a serial device server, reached as
// "tcp://HOST:PORT". By the port box stand the server's host (empty at start), its port
// (2000 at start) and the "NET" button, which runs discovery on that one port name: the same
// probes, messages and connection as the "COM" button's scan of COM1..COM20.
#include "app/window/main_window.h"
#include "kit/errors.h"
#include "kit/line_list.h"
#include "kit/widgets.h"
#include "link/tcp_port.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace rd {

namespace {

// The host as typed, without blanks around it and without the brackets of an IPv6 address.
QString hostIn(const QLineEdit* box) {
    QString host = box->text().trimmed();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    return host;
}

// The port in the box, or 0 when it holds no port number.
uint16_t portIn(const QLineEdit* box) {
    bool ok = false;
    const int port = box->text().trimmed().toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
}

QLineEdit* makeEdit(QWidget* parent, const QString& name, const QString& text, const QString& hint,
                    const QString& accessibleName) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setToolTip(hint);
    edit->setAccessibleName(accessibleName);
    return edit;
}

} // namespace

void TFormQUOR::buildNetControls(QVBoxLayout* page) {
    EditNET_HOST = makeEdit(TabSheetUTIL, QStringLiteral("EditNET_HOST"), QString(),
                            QStringLiteral("host of the serial device server the reader is behind"),
                            QStringLiteral("serial server host"));
    EditNET_HOST->setPlaceholderText(QStringLiteral("host or address"));
    EditNET_HOST->setFixedWidth(140);
    EditNET_PORT = makeEdit(TabSheetUTIL, QStringLiteral("EditNET_PORT"), QString::number(kDefaultTcpPort),
                            QStringLiteral("TCP port of the serial device server"),
                            QStringLiteral("serial server port"));
    EditNET_PORT->setMaxLength(5);
    EditNET_PORT->setFixedWidth(48);
    BitBtnUTIL_NET = MakeButton(TabSheetUTIL, QStringLiteral("BitBtnUTIL_NET"), QStringLiteral("NET"),
                                colors::blue(), QStringLiteral("search for the reader at tcp://HOST:PORT"));
    BitBtnUTIL_NET->setMinimumSize(BitBtnUTIL_FIND_COM->minimumSize());
    BitBtnUTIL_NET->setFont(BitBtnUTIL_FIND_COM->font());
    // The first row is full: the network client stands under it, at its right end, its
    // button under the "COM" button.
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addStretch(1);
    row->addWidget(EditNET_HOST);
    row->addWidget(EditNET_PORT);
    row->addWidget(BitBtnUTIL_NET);
    page->addLayout(row);

    // The button takes only an address it can try; Enter in either box presses it.
    auto update = [this] { BitBtnUTIL_NET->setEnabled(!netPortName().empty()); };
    connect(EditNET_HOST, &QLineEdit::textChanged, this, update);
    connect(EditNET_PORT, &QLineEdit::textChanged, this, update);
    update();
    for (QLineEdit* box : {EditNET_HOST, EditNET_PORT})
        connect(box, &QLineEdit::returnPressed, BitBtnUTIL_NET, &QPushButton::click);
    OnClick(BitBtnUTIL_NET, [this] { BitBtnUTIL_NETClick(); });
}

std::string TFormQUOR::netPortName() const {
    const QString host = hostIn(EditNET_HOST);
    const uint16_t port = portIn(EditNET_PORT);
    if (host.isEmpty() || port == 0)
        return {};
    const std::string name = TcpPortName(host.toStdString(), port);
    std::string h;
    uint16_t p = 0;
    return ParseTcpPortName(name, h, p) ? name : std::string();
}

void TFormQUOR::BitBtnUTIL_NETClick() {
    if (scanning_)
        return;
    const std::string name = netPortName();
    if (name.empty())
        return;
    netOnly_ = name;
    MemoUTIL_REC->clear();
    BF_START();
}

void TFormQUOR::setNetAddress(const QString& host, int port, bool tryFirst) {
    EditNET_HOST->setText(host);
    EditNET_PORT->setText(QString::number(port));
    netFirst_ = tryFirst ? netPortName() : std::string();
}

std::vector<std::string> TFormQUOR::scanPortNames() {
    std::vector<std::string> ports;
    if (!netOnly_.empty()) {
        ports.push_back(std::exchange(netOnly_, std::string()));
        return ports;
    }
    if (!netFirst_.empty())
        ports.push_back(std::exchange(netFirst_, std::string()));
    for (int n = 1; n <= kLastPort; ++n)
        ports.push_back("COM" + std::to_string(n));
    return ports;
}

} // namespace rd
