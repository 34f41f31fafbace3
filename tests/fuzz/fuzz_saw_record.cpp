// The decoding of a sensor tag's user ID record (word 3 of a "UID" answer), the input as
// Latin-1 text. A record is one of the three tags when its first 13 characters name one;
// it is complete when it is long enough for that tag; then T and H are the hexadecimal
// readings at positions 23-24 and 25-26 (from 1), and for the third tag mf and cf those at
// 31-34 and 35-38 plus 430000, df their difference.
#include "tools/tool_text.h"

#include "fuzz_check.h"

#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

// Value of the hexadecimal digits at the start of the field; the first other character ends it.
int FieldValue(const QString& record, int from, int length) {
    int value = 0;
    for (int k = from - 1; k < from - 1 + length; ++k) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(record[k].toLower());
        if (digit < 0 || record[k].unicode() >= 128)
            break;
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QString record = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const rd::SawRecord r = rd::DecodeSawRecord(record);

    const int tag = int(rd::SawTagIds().indexOf(record.left(13)));
    FUZZ_CHECK(r.tag == tag, "tag %d, expected %d", r.tag, tag);
    FUZZ_CHECK(r.id == record.left(13) && r.length == record.size(), "id or length");
    const int needed = tag == 2 ? 38 : 26;
    FUZZ_CHECK(r.complete == (tag >= 0 && record.size() >= needed), "complete %d for %lld characters",
               r.complete, static_cast<long long>(record.size()));
    if (!r.complete) {
        FUZZ_CHECK(r.t == 0 && r.h == 0 && r.mf == 0 && r.cf == 0 && r.df == 0,
                   "readings of an incomplete record");
        return 0;
    }
    FUZZ_CHECK(r.t == FieldValue(record, 23, 2) && r.h == FieldValue(record, 25, 2), "T %d H %d", r.t, r.h);
    if (tag == 2) {
        FUZZ_CHECK(r.mf == FieldValue(record, 31, 4) + 430000, "mf %d", r.mf);
        FUZZ_CHECK(r.cf == FieldValue(record, 35, 4) + 430000, "cf %d", r.cf);
        FUZZ_CHECK(r.df == r.mf - r.cf, "df %d", r.df);
    } else {
        FUZZ_CHECK(r.mf == 0 && r.cf == 0 && r.df == 0, "frequencies of tag %d", tag);
    }
    // The record's lines are built without trouble from any readings.
    FUZZ_CHECK(!rd::SawIdLine(r).isEmpty() && !rd::SawDataLine(QStringLiteral("12:00:00"), r).isEmpty(),
               "lines");
    return 0;
}
