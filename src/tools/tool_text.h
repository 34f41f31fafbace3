// Plain text work of the tool pages, kept apart from the widgets so that it can be
// checked without a window: answer words, the log's information line, the decoding of
// sensor-tag records, counters that wrap like the 32-bit integers they are, and the
// writing of a list as a text file.
#pragma once

#include "protocol/protocol_text.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>

namespace rd {

// Word n (from 1) of an answer text, as the link's token extractor gives it. Defined with
// the tool pages (readerdesk_tools), like WriteTextLinesFile: both need the window's kit.
QString AnswerWord(int n, const QString& answer);

// 32-bit signed arithmetic that wraps around instead of overflowing.
inline int32_t WrapAdd(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) + uint32_t(b));
}
inline int32_t WrapSub(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) - uint32_t(b));
}

// value as 8 upper-case hexadecimal digits (the 32-bit pattern of a negative value).
QString Hex8(int32_t value);

// The inventory log's information line: time, four blanks, the cycle number as 8 hex
// digits, five blanks, word 5, two blanks, word 6.
QString InvLogInfoLine(const QString& time, int32_t cycle, const QString& word5, const QString& word6);

// The value of the hexadecimal digits at the start of chars (either case); the first
// character that is not a hexadecimal digit ends the number; no digits give 0. Any number
// of digits may come: the result is the 32-bit pattern of the last eight ("FFFFFFFF" is -1).
int HexReading(QStringView chars);

// A sensor tag's user ID record (word 3 of a "UID" answer) taken apart: the protocol
// library's readings, with the identifier as the characters came.
struct SawRecord : proto::SawReadings {
    static constexpr int kIdLength = proto::SawRecord::kIdLength;

    QString id; // the first 13 characters
};

// The three tags' identifiers, in the order of their read buttons and labels.
const QStringList& SawTagIds();
// Characters a record of the tag needs: 26 for the first two, 38 for the third.
int SawRecordLengthNeeded(int tag);
SawRecord DecodeSawRecord(const QString& record);

// The lines and label texts built from a decoded record.
QString SawIdLine(const SawRecord& r);        // "ID:<id>  T:<t>   H:<h>"
QString SawFrequencyLine(const SawRecord& r); // "cf= <cf>kHz  mf= <mf>kHz     df= <df>kHz "
QString
SawTagLabel2(const SawRecord& r); // the id line + "  cf= <cf>kHz  mf= <mf>kHz" (no-break spaces after "=")
QString SawDataLine(const QString& time, const SawRecord& r);
QString SawShortRecordLine(const SawRecord& r);

// The time of day as a file name proposal: every ":" replaced by "_".
QString TimeFileName(const QString& timeText);

// A moment (milliseconds since the epoch) as an ISO 8601 local date and time with
// milliseconds and the offset from UTC: "2026-12-10T14:26:00.123+01:00" ("+00:00" in UTC).
QString IsoLocalDateTime(qint64 msecs);

// How the characters of a saved list become the file's bytes.
enum class FileText {
    // One byte per character: answers hold one character per byte the reader sent, and go
    // back to the file as those bytes. (A character past Latin-1 becomes "?".)
    AnswerBytes,
    // UTF-8, for texts the user typed.
    Typed,
};

// Writes lines to path, each followed by CR LF, their characters as text says. The file is
// written beside its target and renamed over it only when complete, so an earlier file of
// that name survives a failed save. Raises AppError naming the path on failure.
void WriteTextLinesFile(const QString& path, const QStringList& lines, FileText text);

} // namespace rd
