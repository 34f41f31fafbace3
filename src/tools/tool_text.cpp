#include "tools/tool_text.h"

#include <QDateTime>

#include <cstdlib>
#include <string>

namespace rd {

QString Hex8(int32_t value) {
    return QStringLiteral("%1").arg(uint32_t(value), 8, 16, QLatin1Char('0')).toUpper();
}

QString IsoLocalDateTime(qint64 msecs) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs);
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString InvLogInfoLine(const QString& time, int32_t cycle, const QString& word5, const QString& word6) {
    return time + QStringLiteral("    ") + Hex8(cycle) + QStringLiteral("     ") + word5 +
           QStringLiteral("  ") + word6;
}

namespace {

// Record characters one a byte; a character past Latin-1 becomes NUL, which is no hexadecimal
// digit and in no tag identifier, just as the character itself.
std::string RecordBytes(QStringView chars) {
    std::string out(std::size_t(chars.size()), '\0');
    for (qsizetype i = 0; i < chars.size(); ++i) {
        const char16_t u = chars[i].unicode();
        out[std::size_t(i)] = u <= 0xFF ? char(u) : '\0';
    }
    return out;
}

proto::SawRecord ToProto(const SawRecord& r) {
    proto::SawRecord p;
    static_cast<proto::SawReadings&>(p) = r;
    p.id = r.id.toStdString();
    return p;
}

} // namespace

int HexReading(QStringView chars) {
    return proto::HexReading(RecordBytes(chars));
}

const QStringList& SawTagIds() {
    static const QStringList ids = [] {
        QStringList l;
        for (const std::string& id : proto::SawTagIds())
            l << QString::fromStdString(id);
        return l;
    }();
    return ids;
}

int SawRecordLengthNeeded(int tag) {
    return proto::SawRecordLengthNeeded(tag);
}

SawRecord DecodeSawRecord(const QString& record) {
    SawRecord r;
    static_cast<proto::SawReadings&>(r) = proto::DecodeSawRecord(RecordBytes(record));
    r.id = record.left(SawRecord::kIdLength); // the characters as they came
    return r;
}

QString SawIdLine(const SawRecord& r) {
    return QString::fromStdString(proto::SawIdLine(ToProto(r)));
}

QString SawFrequencyLine(const SawRecord& r) {
    return QString::fromStdString(proto::SawFrequencyLine(ToProto(r)));
}

QString SawTagLabel2(const SawRecord& r) {
    // A no-break space after "cf=" and "mf=": a label that wraps keeps each with its value.
    return SawIdLine(r) + QStringLiteral("  cf=\u00A0") + QString::number(r.cf) +
           QStringLiteral("kHz  mf=\u00A0") + QString::number(r.mf) + QStringLiteral("kHz");
}

QString SawDataLine(const QString& time, const SawRecord& r) {
    return time + QStringLiteral(" T:") + QString::number(r.t) + QStringLiteral(" H:") +
           QString::number(r.h) + QStringLiteral("  cf= ") + QString::number(r.cf) +
           QStringLiteral("  mf= ") + QString::number(r.mf) + QStringLiteral(" df= ") + QString::number(r.df);
}

QString SawShortRecordLine(const SawRecord& r) {
    return QString::fromStdString(proto::SawShortRecordLine(ToProto(r)));
}

QString TimeFileName(const QString& timeText) {
    QString s = timeText;
    s.replace(QLatin1Char(':'), QLatin1Char('_'));
    return s;
}

} // namespace rd
