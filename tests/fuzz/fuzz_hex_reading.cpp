// The hexadecimal reading of sensor-tag fields on any text (the input as UTF-16 code units):
// the leading run of digits 0-9, a-f, A-F, as the 32-bit pattern of its last eight.
#include "tools/tool_text.h"

#include "fuzz_check.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

int32_t ExpectedReading(const QString& text) {
    std::string digits;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 128 || std::string("0123456789abcdefABCDEF").find(char(u)) == std::string::npos || u == 0)
            break;
        digits.push_back(char(u));
    }
    if (digits.empty())
        return 0;
    if (digits.size() > 8)
        digits.erase(0, digits.size() - 8);
    return int32_t(uint32_t(std::stoul(digits, nullptr, 16)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QString text(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const int value = rd::HexReading(text);
    const int32_t expected = ExpectedReading(text);
    FUZZ_CHECK(value == expected, "\"%s\" read as %d, expected %d", qPrintable(text), value, expected);
    return 0;
}
