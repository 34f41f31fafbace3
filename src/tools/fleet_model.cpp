#include "tools/fleet_model.h"

#include "kit/widgets.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <tuple>

namespace rd {

namespace {

const QString kOnline = QStringLiteral("online");
const QString kLost = QStringLiteral("lost");
const QString kOffline = QStringLiteral("offline");

// The object of a payload, or nothing when it is no JSON object.
std::optional<QJsonObject> ObjectIn(const QByteArray& payload) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

// The id of a command as the bridge echoes it: a string, or a number written as one.
QString IdIn(const QJsonValue& v) {
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 17);
    return {};
}

} // namespace

QString FleetReply::text() const {
    if (!ok)
        return QStringLiteral("error: ") + error;
    return answers.isEmpty() ? QStringLiteral("ok") : answers.join(QLatin1Char('\n'));
}

QColor FleetStateColor(const QString& state) {
    if (state == kOnline)
        return colors::green();
    if (state == kLost)
        return colors::red();
    if (state == kOffline)
        return QColor(128, 128, 128);
    return colors::black();
}

FleetModel::FleetModel(QObject* parent, Clock clock)
    : QAbstractTableModel(parent),
      clock_(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); })) {}

void FleetModel::setPrefix(const QString& prefix) {
    prefix_ = prefix.trimmed();
    while (prefix_.endsWith(QLatin1Char('/')))
        prefix_.chop(1);
}

QStringList FleetModel::patterns() const {
    const QString above = prefix_.isEmpty() ? QString() : prefix_ + QLatin1Char('/');
    return {above + QStringLiteral("+/+/state"), above + QStringLiteral("+/+/stats"),
            above + QStringLiteral("+/+/reply")};
}

QString FleetModel::commandTopic(int row) const {
    const FleetRow& r = fleetRow(row);
    const QString above = prefix_.isEmpty() ? QString() : prefix_ + QLatin1Char('/');
    return above + r.host + QLatin1Char('/') + r.reader + QStringLiteral("/cmd");
}

QDateTime FleetModel::timeIn(const QJsonValue& v) const {
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    return t.isValid() ? t.toLocalTime() : clock_();
}

FleetModel::Taken FleetModel::take(const QString& topic, const QByteArray& payload) {
    QString rest = topic;
    if (!prefix_.isEmpty()) {
        if (!topic.startsWith(prefix_ + QLatin1Char('/')))
            return Taken::Ignored;
        rest = topic.mid(prefix_.size() + 1);
    }
    const QStringList levels = rest.split(QLatin1Char('/'));
    if (levels.size() != 3 || levels[0].isEmpty() || levels[1].isEmpty())
        return Taken::Ignored;
    const QString& host = levels[0];
    const QString& reader = levels[1];
    const QString& kind = levels[2];
    if (kind != QLatin1String("state") && kind != QLatin1String("stats") && kind != QLatin1String("reply"))
        return Taken::Ignored;

    const std::optional<QJsonObject> o = ObjectIn(payload);
    auto malformed = [this] {
        ++malformed_;
        return Taken::Malformed;
    };
    if (!o)
        return malformed();

    if (kind == QLatin1String("reply")) {
        const QString id = IdIn(o->value(QLatin1String("id")));
        const QJsonValue ok = o->value(QLatin1String("ok"));
        if (id.isEmpty() || !ok.isBool())
            return malformed();
        FleetReply r;
        r.host = host;
        r.reader = reader;
        r.ok = ok.toBool();
        for (const QJsonValue& a : o->value(QLatin1String("answers")).toArray())
            r.answers << a.toString();
        r.error = o->value(QLatin1String("error")).toString();
        replies_.insert(id, r);
        emit replied(id);
        return Taken::Reply;
    }

    if (kind == QLatin1String("state")) {
        const QString state = o->value(QLatin1String("state")).toString();
        if (state != kOnline && state != kLost && state != kOffline)
            return malformed();
        const int at = rowFor(host, reader);
        FleetRow& r = rows_[std::size_t(at)];
        r.state = state;
        r.port = o->value(QLatin1String("port")).toString(r.port);
        r.identifier = o->value(QLatin1String("identifier")).toString(r.identifier);
        r.lastSeen = timeIn(o->value(QLatin1String("since")));
        emit dataChanged(index(at, 0), index(at, kColumnCount - 1));
        return Taken::Row;
    }

    // stats
    const QJsonValue rate = o->value(QLatin1String("reads_per_s"));
    const QJsonValue distinct = o->value(QLatin1String("distinct_epcs"));
    if (!rate.isDouble() && !distinct.isDouble())
        return malformed();
    const int at = rowFor(host, reader);
    FleetRow& r = rows_[std::size_t(at)];
    if (rate.isDouble())
        r.readsPerS = rate.toDouble();
    if (distinct.isDouble())
        r.distinctEpcs = qint64(distinct.toDouble());
    r.lastSeen = timeIn(o->value(QLatin1String("time")));
    emit dataChanged(index(at, 0), index(at, kColumnCount - 1));
    return Taken::Row;
}

int FleetModel::find(const QString& host, const QString& reader) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].host == host && rows_[i].reader == reader)
            return int(i);
    return -1;
}

int FleetModel::rowFor(const QString& host, const QString& reader) {
    const int found = find(host, reader);
    if (found >= 0)
        return found;
    const auto at = std::find_if(rows_.begin(), rows_.end(), [&](const FleetRow& r) {
        return std::tie(r.host, r.reader) > std::tie(host, reader);
    });
    const int row = int(at - rows_.begin());
    beginInsertRows({}, row, row);
    FleetRow r;
    r.host = host;
    r.reader = reader;
    rows_.insert(at, r);
    endInsertRows();
    return row;
}

std::optional<FleetReply> FleetModel::reply(const QString& id) const {
    const auto it = replies_.constFind(id);
    if (it == replies_.constEnd())
        return std::nullopt;
    return *it;
}

void FleetModel::clear() {
    beginResetModel();
    rows_.clear();
    replies_.clear();
    malformed_ = 0;
    endResetModel();
}

int FleetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int FleetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant FleetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FleetRow& r = fleetRow(index.row());
    if (role == Qt::ForegroundRole && index.column() == kState)
        return FleetStateColor(r.state);
    if (role == Qt::TextAlignmentRole && (index.column() == kReadsPerS || index.column() == kDistinctEpcs))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case kHost:
        return r.host;
    case kReader:
        return r.reader;
    case kIdentifier:
        return r.identifier;
    case kState:
        return r.state;
    case kReadsPerS:
        return r.readsPerS < 0 ? QString() : QString::number(r.readsPerS, 'f', 1);
    case kDistinctEpcs:
        return r.distinctEpcs < 0 ? QString() : QString::number(r.distinctEpcs);
    case kLastSeen:
        return r.lastSeen.isValid() ? r.lastSeen.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : QString();
    default:
        return {};
    }
}

QVariant FleetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList kHeaders{QStringLiteral("site/host"),  QStringLiteral("reader"),
                                      QStringLiteral("identifier"), QStringLiteral("state"),
                                      QStringLiteral("reads/s"),    QStringLiteral("distinct EPCs"),
                                      QStringLiteral("last seen")};
    return section >= 0 && section < kHeaders.size() ? kHeaders[section] : QVariant();
}

} // namespace rd
