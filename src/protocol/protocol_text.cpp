#include "protocol/protocol_text.h"

namespace rd::proto {

std::string Join(std::string_view word, const std::vector<std::string_view>& args) {
    std::string s(word);
    bool first = true;
    for (std::string_view a : args) {
        if (!first)
            s += ' ';
        s += a;
        first = false;
    }
    return s;
}

std::string SendCopCollection(std::string_view windowSize, std::string_view maxPacketLength,
                              std::string_view udbTypeCode, std::string_view timeOut) {
    return Join("SEND_COP_COLLECTION ", {windowSize, maxPacketLength, udbTypeCode, timeOut});
}

std::string SendCopReadUserId(std::string_view mfr, std::string_view serial) {
    return Join("SEND_COP_READ_USER_ID ", {mfr, serial});
}

std::string KelmEpcInventoryTime(std::string_view q, std::string_view c, std::string_view cntr) {
    return Join("KELM_EPC_INVENTORY_TIME ", {q, c, cntr});
}

std::string EpcStop() {
    return "EPC_STOP";
}

std::string SetAttOut(std::string_view attenuation) {
    return Join("SET_ATT_OUT ", {attenuation});
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if (b < 0x80) {
            out += char16_t(b);
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07, least = 0x10000;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool ok = i + std::size_t(extra) < utf8.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + std::size_t(k)]);
            ok = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no characters.
        if (!ok || cp < least || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
        i += std::size_t(extra) + 1;
    }
    return out;
}

int HexReading(std::string_view chars) {
    // Unsigned, so that a long run of digits wraps instead of overflowing: the value is the
    // 32-bit pattern of the last eight digits.
    uint32_t value = 0;
    for (char c : chars) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        value = value * 16 + uint32_t(d);
    }
    return int(int32_t(value));
}

const std::vector<std::string>& SawTagIds() {
    static const std::vector<std::string> ids = {"EEEE-FEDCBAF0", "EEEE-FEDCBAF1", "EEEE-FEDCBAF2"};
    return ids;
}

int SawRecordLengthNeeded(int tag) {
    return tag == 2 ? 38 : 26;
}

SawRecord DecodeSawRecord(std::string_view record) {
    SawRecord r;
    r.length = int(record.size());
    r.id = std::string(record.substr(0, SawRecord::kIdLength));
    const auto& ids = SawTagIds();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == r.id)
            r.tag = int(i);
    }
    if (r.tag < 0 || r.length < SawRecordLengthNeeded(r.tag))
        return r;
    r.complete = true;
    // Positions are counted from 1 at the first character of the record.
    r.t = HexReading(record.substr(22, 2));
    r.h = HexReading(record.substr(24, 2));
    if (r.tag == 2) {
        r.mf = HexReading(record.substr(30, 4)) + 430000;
        r.cf = HexReading(record.substr(34, 4)) + 430000;
        r.df = r.mf - r.cf;
    }
    return r;
}

std::string SawIdLine(const SawRecord& r) {
    return "ID:" + r.id + "  T:" + std::to_string(r.t) + "   H:" + std::to_string(r.h);
}

std::string SawFrequencyLine(const SawRecord& r) {
    return "cf= " + std::to_string(r.cf) + "kHz  mf= " + std::to_string(r.mf) + "kHz" +
           "     df= " + std::to_string(r.df) + "kHz ";
}

std::string SawShortRecordLine(const SawRecord& r) {
    return "ID:" + r.id + "  short record: " + std::to_string(r.length) + " characters, " +
           std::to_string(SawRecordLengthNeeded(r.tag)) + " needed";
}

} // namespace rd::proto
