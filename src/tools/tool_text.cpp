#include "tool_text.h"

namespace rd {

QString Hex8(int32_t value) {
    return QStringLiteral("%1").arg(uint32_t(value), 8, 16, QLatin1Char('0')).toUpper();
}

QString InvLogInfoLine(const QString& time, int32_t cycle, const QString& word5, const QString& word6) {
    return time + QStringLiteral("    ") + Hex8(cycle) + QStringLiteral("     ") + word5 +
           QStringLiteral("  ") + word6;
}

int HexReading(QStringView chars) {
    // Unsigned, so that a long run of digits wraps instead of overflowing: the value is the
    // 32-bit pattern of the last eight digits.
    uint32_t value = 0;
    for (QChar c : chars) {
        const ushort u = c.unicode();
        int d;
        if (u >= '0' && u <= '9')
            d = u - '0';
        else if (u >= 'a' && u <= 'f')
            d = u - 'a' + 10;
        else if (u >= 'A' && u <= 'F')
            d = u - 'A' + 10;
        else
            break;
        value = value * 16 + uint32_t(d);
    }
    return int(int32_t(value));
}

const QStringList& SawTagIds() {
    static const QStringList ids = {QStringLiteral("EEEE-FEDCBAF0"), QStringLiteral("EEEE-FEDCBAF1"),
                                    QStringLiteral("EEEE-FEDCBAF2")};
    return ids;
}

int SawRecordLengthNeeded(int tag) {
    return tag == 2 ? 38 : 26;
}

SawRecord DecodeSawRecord(const QString& record) {
    SawRecord r;
    r.length = int(record.size());
    r.id = record.left(SawRecord::kIdLength);
    r.tag = int(SawTagIds().indexOf(r.id));
    if (r.tag < 0 || r.length < SawRecordLengthNeeded(r.tag))
        return r;
    r.complete = true;
    // Positions are counted from 1 at the first character of the record.
    const QStringView s(record);
    r.t = HexReading(s.mid(22, 2));
    r.h = HexReading(s.mid(24, 2));
    if (r.tag == 2) {
        r.mf = HexReading(s.mid(30, 4)) + 430000;
        r.cf = HexReading(s.mid(34, 4)) + 430000;
        r.df = r.mf - r.cf;
    }
    return r;
}

QString SawIdLine(const SawRecord& r) {
    return QStringLiteral("ID:") + r.id + QStringLiteral("  T:") + QString::number(r.t) +
           QStringLiteral("   H:") + QString::number(r.h);
}

QString SawFrequencyLine(const SawRecord& r) {
    return QStringLiteral("cf= ") + QString::number(r.cf) + QStringLiteral("kHz  mf= ") +
           QString::number(r.mf) + QStringLiteral("kHz") + QStringLiteral("     df= ") +
           QString::number(r.df) + QStringLiteral("kHz ");
}

QString SawTagLabel2(const SawRecord& r) {
    return SawIdLine(r) + QStringLiteral("  cf= ") + QString::number(r.cf) + QStringLiteral("kHz  mf= ") +
           QString::number(r.mf) + QStringLiteral("kHz");
}

QString SawDataLine(const QString& time, const SawRecord& r) {
    return time + QStringLiteral(" T:") + QString::number(r.t) + QStringLiteral(" H:") +
           QString::number(r.h) + QStringLiteral("  cf= ") + QString::number(r.cf) +
           QStringLiteral("  mf= ") + QString::number(r.mf) + QStringLiteral(" df= ") + QString::number(r.df);
}

QString SawShortRecordLine(const SawRecord& r) {
    return QStringLiteral("ID:") + r.id +
           QStringLiteral("  short record: %1 characters, %2 needed")
               .arg(r.length)
               .arg(SawRecordLengthNeeded(r.tag));
}

QString TimeFileName(const QString& timeText) {
    QString s = timeText;
    s.replace(QLatin1Char(':'), QLatin1Char('_'));
    return s;
}

} // namespace rd
