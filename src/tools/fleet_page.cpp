#include "tools/fleet_page.h"

#include "tools/fleet_link.h"

#include "kit/errors.h"
#include "kit/widgets.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableView>

namespace rd {

namespace {

const QString kDefaultPrefix = QStringLiteral("readerdesk");
const QString kNotConnected = QStringLiteral("Not connected");

QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QString& text, const QString& hint,
                    const QString& accessibleName) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setToolTip(hint);
    edit->setAccessibleName(accessibleName);
    return edit;
}

// The first line of the password file, or nothing with the reason in *why.
std::optional<std::string> ReadPassword(const QString& path, QString* why) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("Cannot read the password file %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    QByteArray line = f.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line.toStdString();
}

} // namespace

FleetPage::FleetPage(QWidget* parent, FleetModel::Clock clock) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheetFLEET"));
    model_ = new FleetModel(this, std::move(clock));
    link_ = new FleetLink(this);
    idTag_ = QString::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 16);

    host_ =
        MakeEdit(this, QStringLiteral("EditFLEET_HOST"), QStringLiteral("localhost"),
                 QStringLiteral("host name or address of the MQTT broker"), QStringLiteral("broker host"));
    port_ = MakeEdit(this, QStringLiteral("EditFLEET_PORT"), QStringLiteral("1883"),
                     QStringLiteral("TCP port of the broker (1883; 8883 with TLS)"),
                     QStringLiteral("broker port"));
    port_->setMaxLength(5);
    port_->setFixedWidth(56);
    user_ = MakeEdit(this, QStringLiteral("EditFLEET_USER"), QString(),
                     QStringLiteral("user name at the broker (empty: none)"), QStringLiteral("broker user"));
    passwordFile_ = MakeEdit(this, QStringLiteral("EditFLEET_PASSWORD_FILE"), QString(),
                             QStringLiteral("file whose first line is the user's password (read at CONNECT)"),
                             QStringLiteral("password file"));
    cafile_ = MakeEdit(this, QStringLiteral("EditFLEET_CAFILE"), QString(),
                       QStringLiteral("CA certificate of the broker's TLS certificate (empty: no TLS)"),
                       QStringLiteral("TLS CA file"));
    prefix_ = MakeEdit(this, QStringLiteral("EditFLEET_PREFIX"), kDefaultPrefix,
                       QStringLiteral("topics above the bridges' hosts: PREFIX/HOST/READER/..."),
                       QStringLiteral("topic prefix"));
    connect_ =
        MakeButton(this, QStringLiteral("ButtonFLEET_CONNECT"), QStringLiteral("CONNECT"), colors::blue(),
                   QStringLiteral("connect to the broker and follow every reader under the prefix"));
    disconnect_ = MakeButton(this, QStringLiteral("ButtonFLEET_DISCONNECT"), QStringLiteral("DISCONNECT"),
                             colors::black(), QStringLiteral("leave the broker"));
    status_ = MakeLabel(this, QStringLiteral("LabelFLEET_STATUS"), QString());
    status_->setAccessibleName(QStringLiteral("broker connection"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setStatus(kNotConnected, colors::black());

    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("TableFLEET"));
    view_->setAccessibleName(QStringLiteral("readers"));
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setColumnWidth(FleetModel::kHost, 140);
    view_->setColumnWidth(FleetModel::kReader, 140);
    view_->setColumnWidth(FleetModel::kIdentifier, 110);

    start_ =
        MakeButton(this, QStringLiteral("ButtonFLEET_INVENTORY_START"), QStringLiteral("INVENTORY START"),
                   colors::green(), QStringLiteral("start an inventory on the selected reader"));
    stop_ = MakeButton(this, QStringLiteral("ButtonFLEET_INVENTORY_STOP"), QStringLiteral("INVENTORY STOP"),
                       colors::red(), QStringLiteral("stop the inventory of the selected reader"));
    command_ = MakeEdit(this, QStringLiteral("EditFLEET_COMMAND"), QStringLiteral("VERSION"),
                        QStringLiteral("a command for the selected reader"), QStringLiteral("command"));
    send_ = MakeButton(this, QStringLiteral("ButtonFLEET_SEND"), QStringLiteral("SEND"), colors::black(),
                       QStringLiteral("send the command to the selected reader"));
    reply_ = MakeLabel(this, QStringLiteral("LabelFLEET_REPLY"), QString());
    reply_->setAccessibleName(QStringLiteral("reply"));
    reply_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reply_->setWordWrap(true);

    auto caption = [this](const char* name, const QString& text) {
        return MakeLabel(this, QLatin1String(name), text);
    };
    auto* grid = new QGridLayout(this);
    grid->addWidget(caption("LabelFLEET_HOST", QStringLiteral("broker")), 0, 0);
    grid->addWidget(host_, 0, 1);
    grid->addWidget(caption("LabelFLEET_PORT", QStringLiteral("port")), 0, 2);
    grid->addWidget(port_, 0, 3);
    grid->addWidget(caption("LabelFLEET_USER", QStringLiteral("user")), 0, 4);
    grid->addWidget(user_, 0, 5);
    grid->addWidget(connect_, 0, 6);
    grid->addWidget(caption("LabelFLEET_PASSWORD_FILE", QStringLiteral("password file")), 1, 0);
    grid->addWidget(passwordFile_, 1, 1, 1, 3);
    grid->addWidget(caption("LabelFLEET_CAFILE", QStringLiteral("TLS CA file")), 1, 4);
    grid->addWidget(cafile_, 1, 5);
    grid->addWidget(disconnect_, 1, 6);
    grid->addWidget(caption("LabelFLEET_PREFIX", QStringLiteral("prefix")), 2, 0);
    grid->addWidget(prefix_, 2, 1);
    grid->addWidget(status_, 2, 2, 1, 5);
    grid->addWidget(view_, 3, 0, 1, 7);
    auto* commands = new QHBoxLayout;
    commands->addWidget(start_);
    commands->addWidget(stop_);
    commands->addWidget(command_, 1);
    commands->addWidget(send_);
    grid->addLayout(commands, 4, 0, 1, 7);
    grid->addWidget(reply_, 5, 0, 1, 7);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(5, 1);
    grid->setRowStretch(3, 1);

    OnClick(connect_, [this] { ButtonFLEET_CONNECTClick(); });
    OnClick(disconnect_, [this] { ButtonFLEET_DISCONNECTClick(); });
    OnClick(start_, [this] { ButtonFLEET_INVENTORY_STARTClick(); });
    OnClick(stop_, [this] { ButtonFLEET_INVENTORY_STOPClick(); });
    OnClick(send_, [this] { ButtonFLEET_SENDClick(); });
    for (QLineEdit* box : {host_, port_, user_, passwordFile_, cafile_, prefix_})
        connect(box, &QLineEdit::returnPressed, connect_, &QPushButton::click);
    connect(command_, &QLineEdit::returnPressed, send_, &QPushButton::click);

    connect(link_, &FleetLink::message, this,
            [this](const QString& topic, const QByteArray& payload) { model_->take(topic, payload); });
    connect(link_, &FleetLink::connected, this, [this](const QString&) {
        setStatus(QStringLiteral("Connected to %1").arg(brokerUrl()), colors::green());
        updateButtons();
    });
    connect(link_, &FleetLink::lost, this, [this](const QString& why) {
        setStatus(why + QStringLiteral(" — retrying"), colors::red());
        updateButtons();
    });
    connect(link_, &FleetLink::refused, this, [this](const QString& why, bool final) {
        setStatus(brokerUrl() + QStringLiteral(": ") + why +
                      (final ? QString() : QStringLiteral(" — retrying")),
                  colors::red());
        updateButtons();
    });
    connect(link_, &FleetLink::failed, this, [this](const QString& why) {
        setStatus(why, colors::red());
        updateButtons();
    });
    connect(model_, &FleetModel::replied, this, [this](const QString& id) {
        if (id != lastId_)
            return;
        setReply(lastTarget_ + QStringLiteral(": ") + model_->reply(id)->text());
    });
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateButtons(); });
    updateButtons();
}

FleetPage::~FleetPage() = default;

void FleetPage::setStatus(const QString& text, const QColor& color) {
    status_->setText(text);
    status_->setAccessibleDescription(text);
    SetFontColor(status_, color);
}

void FleetPage::setReply(const QString& text) {
    reply_->setText(text);
    reply_->setAccessibleDescription(text);
}

QString FleetPage::brokerUrl() const {
    return (cafile_->text().trimmed().isEmpty() ? QStringLiteral("mqtt://") : QStringLiteral("mqtts://")) +
           host_->text().trimmed() + QLatin1Char(':') + port_->text().trimmed();
}

void FleetPage::ButtonFLEET_CONNECTClick() {
    link_->close();
    const QString host = host_->text().trimmed();
    bool ok = false;
    const int port = port_->text().trimmed().toInt(&ok);
    if (host.isEmpty()) {
        setStatus(QStringLiteral("Enter the broker's host"), colors::red());
        updateButtons();
        return;
    }
    if (!ok || port < 1 || port > 65535) {
        setStatus(QStringLiteral("The broker's port must be a number from 1 to 65535"), colors::red());
        updateButtons();
        return;
    }
    mqtt::ClientOptions o;
    o.broker.host = host.toStdString();
    o.broker.port = port;
    o.cafile = cafile_->text().trimmed().toStdString();
    o.broker.tls = !o.cafile.empty();
    o.username = user_->text().trimmed().toStdString();
    const QString passwordFile = passwordFile_->text().trimmed();
    if (!o.username.empty() && !passwordFile.isEmpty()) {
        QString why;
        const auto password = ReadPassword(passwordFile, &why);
        if (!password) {
            setStatus(why, colors::red());
            updateButtons();
            return;
        }
        o.password = *password;
    }
    model_->clear();
    model_->setPrefix(prefix_->text());
    std::vector<std::string> patterns;
    for (const QString& p : model_->patterns())
        patterns.push_back(p.toStdString());
    setReply(QString());
    setStatus(QStringLiteral("Connecting to %1…").arg(brokerUrl()), colors::black());
    link_->open(o, patterns);
    updateButtons();
}

void FleetPage::ButtonFLEET_DISCONNECTClick() {
    link_->close();
    setStatus(kNotConnected, colors::black());
    updateButtons();
}

void FleetPage::ButtonFLEET_INVENTORY_STARTClick() {
    sendCommand(QJsonObject{{QStringLiteral("inventory"), QStringLiteral("start")}});
}

void FleetPage::ButtonFLEET_INVENTORY_STOPClick() {
    sendCommand(QJsonObject{{QStringLiteral("inventory"), QStringLiteral("stop")}});
}

void FleetPage::ButtonFLEET_SENDClick() {
    const QString text = command_->text().trimmed();
    if (text.isEmpty()) {
        setReply(QStringLiteral("Type a command first"));
        return;
    }
    sendCommand(QJsonObject{{QStringLiteral("send"), text}});
}

int FleetPage::selectedRow() const {
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void FleetPage::sendCommand(QJsonObject command) {
    const int row = selectedRow();
    if (row < 0) {
        setReply(QStringLiteral("Select a reader first"));
        return;
    }
    const QString id = idTag_ + QLatin1Char('-') + QString::number(++sent_);
    command.insert(QStringLiteral("id"), id);
    const FleetRow& r = model_->fleetRow(row);
    const QString target = r.host + QLatin1Char('/') + r.reader;
    std::string why;
    if (!link_->publish(model_->commandTopic(row).toStdString(),
                        QJsonDocument(command).toJson(QJsonDocument::Compact).toStdString(), &why)) {
        setReply(QStringLiteral("%1: not sent: %2").arg(target, QString::fromStdString(why)));
        return;
    }
    lastId_ = id;
    lastTarget_ = target;
    setReply(QStringLiteral("%1: waiting for the reply to %2…").arg(target, id));
}

void FleetPage::updateButtons() {
    connect_->setEnabled(true);
    disconnect_->setEnabled(link_->isOpen());
    const bool canSend = link_->isOpen() && selectedRow() >= 0;
    for (QPushButton* b : {start_, stop_, send_})
        b->setEnabled(canSend);
}

} // namespace rd
