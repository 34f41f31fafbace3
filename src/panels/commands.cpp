#include "panels/commands.h"

#include "protocol/protocol_text.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace rd::cmd {

namespace {

std::string U8(const QString& s) {
    return s.toStdString();
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// proto::Join on box texts: the command word followed by the arguments, one blank between two.
QString Join(const QString& word, std::initializer_list<QString> args) {
    std::vector<std::string> texts;
    texts.reserve(args.size());
    for (const QString& a : args)
        texts.push_back(U8(a));
    return Q(proto::Join(U8(word), std::vector<std::string_view>(texts.begin(), texts.end())));
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

QString TwoDigits(int v) {
    return QString::number(v).rightJustified(2, QLatin1Char('0'));
}

} // namespace

// ---- 433 MHz -------------------------------------------------------------------------------

QString SendCopCollection(const QString& windowSize, const QString& maxPacketLength,
                          const QString& udbTypeCode, const QString& timeOut) {
    return Q(proto::SendCopCollection(U8(windowSize), U8(maxPacketLength), U8(udbTypeCode), U8(timeOut)));
}

QString SendCopSleep() {
    return QStringLiteral("SEND_COP_SLEEP ");
}

QString SendWakeUpImpuls() {
    return QStringLiteral("SEND_WAKE_UP_IMPULS 1");
}

QString SendCopReadUserId(const QString& mfr, const QString& serial) {
    return Q(proto::SendCopReadUserId(U8(mfr), U8(serial)));
}

QString SendCopRssiReadUserId(const QString& mfr, const QString& serial) {
    return Join(QStringLiteral("SEND_COP_RSSI_READ_USER_ID "), {mfr, serial});
}

QString SendNCopReadUserId(const QString& mfr, const QString& serial, const QString& count) {
    return Join(QStringLiteral("SEND_N_COP_READ_USER_ID "), {mfr, serial, count});
}

QString SendCopWrUserId(const QString& mfr, const QString& serial, const QString& length,
                        const QString& data) {
    return Join(QStringLiteral("SEND_COP_WR_USER_ID "), {mfr, serial, length, data});
}

QString SendCopReadMemory(const QString& mfr, const QString& serial, const QString& length,
                          const QString& address) {
    return Join(QStringLiteral("SEND_COP_READ_MEMORY "), {mfr, serial, length, address});
}

QString SendCopWrMemory(const QString& mfr, const QString& serial, const QString& length,
                        const QString& address, const QString& data) {
    return Join(QStringLiteral("SEND_COP_WR_MEMORY "), {mfr, serial, length, address, data});
}

QString LoadPeriod(const QString& mfr, const QString& serial, const QString& period) {
    return SendCopWrMemory(mfr, serial, QStringLiteral("1"), QStringLiteral("20"), period);
}

// ---- 900 MHz -------------------------------------------------------------------------------

QString KelmInitLabel(const QString& w1, const QString& w2) {
    return Join(QStringLiteral("KELM_INIT_LABEL "), {w1, w2});
}

QString KelmWrDataEpc(const QString& address, const QString& word) {
    return Join(QStringLiteral("KELM_WR_DATA_EPC "), {address, word});
}

QString KelmWrDataUser(const QString& address, const QString& word) {
    return Join(QStringLiteral("KELM_WR_DATA_USER "), {address, word});
}

QString KelmRdDataEpc() {
    return QStringLiteral("KELM_RD_DATA_EPC ");
}

QString KelmRdDataUser() {
    return QStringLiteral("KELM_RD_DATA_USER ");
}

QString KelmCurrWrDataEpc(const QString& label, const QString& address, const QString& word) {
    return Join(QStringLiteral("KELM_CURR_WR_DATA_EPC "), {label, address, word});
}

QString KelmCurrWrDataUser(const QString& label, const QString& address, const QString& word) {
    return Join(QStringLiteral("KELM_CURR_WR_DATA_USER "), {label, address, word});
}

QString KelmCurrRdDataEpc(const QString& label) {
    return Join(QStringLiteral("KELM_CURR_RD_DATA_EPC "), {label});
}

QString KelmCurrRdDataUser(const QString& label) {
    return Join(QStringLiteral("KELM_CURR_RD_DATA_USER "), {label});
}

QString KelmEpcInventoryTime(const QString& q, const QString& c, const QString& cntr) {
    return Q(proto::KelmEpcInventoryTime(U8(q), U8(c), U8(cntr)));
}

QString EpcStop() {
    return Q(proto::EpcStop());
}

QString SetAttOut(const QString& attenuation) {
    return Q(proto::SetAttOut(U8(attenuation)));
}

QString QueryAck() {
    return QStringLiteral("F_TST_EPC_0_QUERY_ACK ");
}

QString PowerOn() {
    return QStringLiteral("POWER_ON ");
}

QString PowerOff() {
    return QStringLiteral("POWER_OFF ");
}

QString AlphaInitLabel(const QString& w1, const QString& w2, const QString& w3) {
    return Join(QStringLiteral("ALPHA_INIT_LABEL "), {w1, w2, w3});
}

std::uint32_t LeadingHex(const QString& text) {
    std::uint64_t value = 0;
    for (const QChar c : text) {
        const int d = HexDigit(c);
        if (d < 0)
            break;
        const std::uint64_t next = value * 16 + std::uint64_t(d);
        if (next > 0xFFFFFFFFull)
            break;
        value = next;
    }
    return std::uint32_t(value);
}

QString HexWord(std::uint32_t value) {
    return QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QString IncrementedWord(const QString& text) {
    return HexWord(LeadingHex(text) + 1u); // unsigned: wraps at 32 bits
}

// ---- Wiegand -------------------------------------------------------------------------------

QString WgReaderAOn() {
    return QStringLiteral("WG_A_POWER_ON");
}

QString WgReaderAOff() {
    return QStringLiteral("WG_A_POWER_OFF");
}

QString WgReaderBOn() {
    return QStringLiteral("WG_B_POWER_ON");
}

QString WgReaderBOff() {
    return QStringLiteral("WG_B_POWER_OFF");
}

QString Ds1302GetDateTime() {
    return QStringLiteral("DS1302_GET_DATE_TIME");
}

QString Ds1302SetDateTime(const QDateTime& localTime) {
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return QStringLiteral("DS1302_SET_DATE_TIME ") + TwoDigits(d.day()) + QLatin1Char(' ') +
           TwoDigits(d.month()) + QLatin1Char(' ') + TwoDigits(((d.year() % 100) + 100) % 100) +
           QLatin1Char(' ') + TwoDigits(t.hour()) + QLatin1Char(' ') + TwoDigits(t.minute()) +
           QLatin1Char(' ') + TwoDigits(t.second());
}

} // namespace rd::cmd
