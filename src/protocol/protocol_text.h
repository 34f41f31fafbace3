// The reader's command texts and the sensor-tag record decoding, without Qt: UTF-8 in
// std::string. The window's QString functions (commands.h, tool_text.h) call these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rd::proto {

// ---- Command texts -------------------------------------------------------------------------

// The command word (with its own trailing blank where it has one) followed by the arguments,
// one blank between two arguments. Arguments go in exactly as given.
std::string Join(std::string_view word, const std::vector<std::string_view>& args);

std::string SendCopCollection(std::string_view windowSize, std::string_view maxPacketLength,
                              std::string_view udbTypeCode, std::string_view timeOut);
std::string SendCopReadUserId(std::string_view mfr, std::string_view serial);
// "KELM_EPC_INVENTORY_TIME Q C CNTR".
std::string KelmEpcInventoryTime(std::string_view q, std::string_view c, std::string_view cntr);
std::string EpcStop();
// "SET_ATT_OUT <attenuation>": the output attenuation, in dB.
std::string SetAttOut(std::string_view attenuation);

// UTF-8 as UTF-16; a byte that starts no valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// ---- Sensor-tag records --------------------------------------------------------------------

// The value of the hexadecimal digits at the start of chars (either case); the first
// character that is not a hexadecimal digit ends the number; no digits give 0. Any number of
// digits may come: the result is the 32-bit pattern of the last eight ("FFFFFFFF" is -1).
int HexReading(std::string_view chars);

// What a sensor tag's user ID record gives besides its identifier.
struct SawReadings {
    int tag = -1;          // 0, 1 or 2 for the three known tags, -1 for any other record
    int length = 0;        // characters in the record
    bool complete = false; // long enough for every position the tag's decoding reads
    int t = 0;             // temperature reading, positions 23-24
    int h = 0;             // humidity reading, positions 25-26
    int mf = 0;            // third tag: positions 31-34 + 430000, kHz
    int cf = 0;            // third tag: positions 35-38 + 430000, kHz
    int df = 0;            // mf - cf
};

// A sensor tag's user ID record (word 3 of a "UID" answer, one character a byte) taken apart.
struct SawRecord : SawReadings {
    static constexpr int kIdLength = 13;

    std::string id; // the first 13 characters
};

// The three tags' identifiers, in the order of their read buttons and labels.
const std::vector<std::string>& SawTagIds();
// Characters a record of the tag needs: 26 for the first two, 38 for the third.
int SawRecordLengthNeeded(int tag);
SawRecord DecodeSawRecord(std::string_view record);

std::string SawIdLine(const SawRecord& r);        // "ID:<id>  T:<t>   H:<h>"
std::string SawFrequencyLine(const SawRecord& r); // "cf= <cf>kHz  mf= <mf>kHz     df= <df>kHz "
std::string SawShortRecordLine(const SawRecord& r);

} // namespace rd::proto
