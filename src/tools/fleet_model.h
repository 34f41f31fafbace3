// The FLEET page's table without widgets: one row per reader of every bridge on the broker,
// keyed by the bridge's host and the reader's name, from the messages under
// "<prefix>/<host>/<reader>/": "state" (retained: online, lost or offline, the port, the
// identifier, since when), "stats" (reads per second, distinct EPCs, its time) and "reply"
// (the answer to a command, kept by the command's id). A message that is no JSON object of
// its kind is ignored and counted; it never changes a row.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace rd {

struct FleetRow {
    QString host;
    QString reader;
    QString identifier;
    QString port;
    QString state;         // "online", "lost", "offline"; "" before the first state message
    double readsPerS = -1; // -1: no stats yet
    qint64 distinctEpcs = -1;
    QDateTime lastSeen; // the time the newest message carried, else when it came
};

// The answer to one command, by its id.
struct FleetReply {
    QString host;
    QString reader;
    bool ok = false;
    QStringList answers;
    QString error;
    // As the page shows it: the answers one a line, or "error: " and the reason.
    QString text() const;
};

// The colour of a state: green online, red lost, grey offline (black while unknown).
QColor FleetStateColor(const QString& state);

class FleetModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kHost, kReader, kIdentifier, kState, kReadsPerS, kDistinctEpcs, kLastSeen, kColumnCount };
    using Clock = std::function<QDateTime()>;

    // The clock gives the time of a message that carries none (the current time by default).
    explicit FleetModel(QObject* parent = nullptr, Clock clock = {});

    // The part of the topics above the bridges' hosts ("readerdesk" by default); a trailing
    // '/' is dropped. Rows stay.
    void setPrefix(const QString& prefix);
    const QString& prefix() const { return prefix_; }
    // The patterns to subscribe to.
    QStringList patterns() const;
    // The topic a command for the row goes to.
    QString commandTopic(int row) const;

    enum class Taken { Row, Reply, Ignored, Malformed };
    // One message as it came from the broker. Topics outside the prefix or of other kinds
    // are ignored; a malformed payload is counted.
    Taken take(const QString& topic, const QByteArray& payload);

    int malformed() const { return malformed_; }
    const FleetRow& fleetRow(int row) const { return rows_[std::size_t(row)]; }
    // The row of a reader, or -1.
    int find(const QString& host, const QString& reader) const;
    std::optional<FleetReply> reply(const QString& id) const;
    // Forgets every row, reply and count.
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  signals:
    // A reply came for the command of this id.
    void replied(const QString& id);

  private:
    // The row of a reader, made (in order of host and reader) when it is new.
    int rowFor(const QString& host, const QString& reader);
    QDateTime timeIn(const QJsonValue& v) const;

    Clock clock_;
    QString prefix_ = QStringLiteral("readerdesk");
    std::vector<FleetRow> rows_;
    QHash<QString, FleetReply> replies_;
    int malformed_ = 0;
};

} // namespace rd
