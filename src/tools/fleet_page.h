// The FLEET page: the readers of every bridge on an MQTT broker, one row each (site/host,
// reader, identifier, state, reads/s, distinct EPCs, last seen), and commands to the reader
// of the selected row: INVENTORY START, INVENTORY STOP and any command typed, each published
// on its ".../cmd" topic with an id of its own; the reply with that id is shown below.
// The broker's boxes (host, port, user, password file, TLS CA file, prefix) are kept in the
// settings as every box of the window is; the password is read from its file at each CONNECT
// and kept nowhere else. Nothing here waits for the broker: see FleetLink.
#pragma once

#include "tools/fleet_model.h"

#include <QJsonObject>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace rd {

class FleetLink;

class FleetPage : public QWidget {
    Q_OBJECT
  public:
    explicit FleetPage(QWidget* parent = nullptr, FleetModel::Clock clock = {});
    ~FleetPage() override;

    void ButtonFLEET_CONNECTClick();
    void ButtonFLEET_DISCONNECTClick();
    void ButtonFLEET_INVENTORY_STARTClick();
    void ButtonFLEET_INVENTORY_STOPClick();
    void ButtonFLEET_SENDClick();

    FleetModel& model() { return *model_; }
    FleetLink& link() { return *link_; }
    // The id of the last command sent ("" before the first).
    const QString& lastCommandId() const { return lastId_; }

  private:
    void setStatus(const QString& text, const QColor& color);
    void setReply(const QString& text);
    // Publishes the command (its "id" added) to the selected row's reader.
    void sendCommand(QJsonObject command);
    void updateButtons();
    int selectedRow() const;
    QString brokerUrl() const;

    FleetModel* model_;
    FleetLink* link_;
    QLineEdit* host_;
    QLineEdit* port_;
    QLineEdit* user_;
    QLineEdit* passwordFile_;
    QLineEdit* cafile_;
    QLineEdit* prefix_;
    QPushButton* connect_;
    QPushButton* disconnect_;
    QLabel* status_;
    QTableView* view_;
    QPushButton* start_;
    QPushButton* stop_;
    QLineEdit* command_;
    QPushButton* send_;
    QLabel* reply_;
    QString idTag_;     // this window's part of every command id
    unsigned sent_ = 0; // commands sent, the other part
    QString lastId_;
    QString lastTarget_; // "host/reader" of the last command
};

} // namespace rd
