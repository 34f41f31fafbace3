// The command texts of the command pages, composed from box texts.
//
// Every function joins a fixed command word and the texts of the boxes it names, in the
// order the reader expects, with one blank before each box text. Box texts go in exactly
// as typed: nothing is trimmed, changed or checked, and an empty box leaves its blank.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace rd::cmd {

// ---- 433 MHz active tags ---------------------------------------------------------------
// A tag is named by its manufacturer ID (mfr) and serial number (serial), always in
// that order and ahead of the command's own arguments.

QString SendCopCollection(const QString& windowSize, const QString& maxPacketLength,
                          const QString& udbTypeCode, const QString& timeOut);
QString SendCopSleep();
QString SendWakeUpImpuls();
QString SendCopReadUserId(const QString& mfr, const QString& serial);
QString SendCopRssiReadUserId(const QString& mfr, const QString& serial);
QString SendNCopReadUserId(const QString& mfr, const QString& serial, const QString& count);
QString SendCopWrUserId(const QString& mfr, const QString& serial, const QString& length,
                        const QString& data);
QString SendCopReadMemory(const QString& mfr, const QString& serial, const QString& length,
                          const QString& address);
QString SendCopWrMemory(const QString& mfr, const QString& serial, const QString& length,
                        const QString& address, const QString& data);
// One byte at address 20h: the tag's wake-up period in steps of 250 ms.
QString LoadPeriod(const QString& mfr, const QString& serial, const QString& period);

// ---- 900 MHz labels ----------------------------------------------------------------------

QString KelmInitLabel(const QString& w1, const QString& w2);
QString KelmWrDataEpc(const QString& address, const QString& word);
QString KelmWrDataUser(const QString& address, const QString& word);
QString KelmRdDataEpc();
QString KelmRdDataUser();
QString KelmCurrWrDataEpc(const QString& label, const QString& address, const QString& word);
QString KelmCurrWrDataUser(const QString& label, const QString& address, const QString& word);
QString KelmCurrRdDataEpc(const QString& label);
QString KelmCurrRdDataUser(const QString& label);
// The start of every inventory run: "KELM_EPC_INVENTORY_TIME Q C CNTR".
QString KelmEpcInventoryTime(const QString& q, const QString& c, const QString& cntr);
QString EpcStop();
QString SetAttOut(const QString& attenuation);
QString QueryAck();
QString PowerOn();
QString PowerOff();
QString AlphaInitLabel(const QString& w1, const QString& w2, const QString& w3);

// "inc W3": the value of the leading hexadecimal digits of text (upper or lower case),
// read until the first other character or until one more digit would not fit in 32 bits;
// 0 when the text does not start with a digit.
std::uint32_t LeadingHex(const QString& text);
// Upper-case hexadecimal, at least four digits.
QString HexWord(std::uint32_t value);
// The next W3: the leading hexadecimal value plus one, wrapping at 32 bits.
QString IncrementedWord(const QString& text);

// ---- Wiegand controller ------------------------------------------------------------------

QString WgReaderAOn();
QString WgReaderAOff();
QString WgReaderBOn();
QString WgReaderBOff();
QString Ds1302GetDateTime();
// "DS1302_SET_DATE_TIME dd MM yy hh mm ss" from one reading of the local clock.
QString Ds1302SetDateTime(const QDateTime& localTime);

} // namespace rd::cmd
