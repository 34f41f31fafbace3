// Box integers against a plain reading of their syntax: blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$" or "0x"; decimal values within the 32-bit
// signed range, hexadecimal ones any 32-bit pattern. Anything else raises the conversion
// error, whose text names the box text whole. The input is the box text in UTF-8.
#include "kit/conv.h"
#include "kit/errors.h"

#include "fuzz_check.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

std::optional<int32_t> ExpectedValue(const QString& text) {
    std::string s;
    for (QChar c : text)
        s.push_back(c.unicode() < 128 ? char(c.unicode()) : '\x7f'); // never part of a number
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    std::string rest = s.substr(first);
    bool negative = false;
    if (rest[0] == '+' || rest[0] == '-') {
        negative = rest[0] == '-';
        rest.erase(0, 1);
    }
    bool hex = false;
    if (rest.rfind("$", 0) == 0) {
        hex = true;
        rest.erase(0, 1);
    } else if (rest.rfind("0x", 0) == 0 || rest.rfind("0X", 0) == 0) {
        hex = true;
        rest.erase(0, 2);
    }
    if (rest.empty() ||
        rest.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return std::nullopt;
    rest.erase(0, std::min(rest.find_first_not_of('0'), rest.size() - 1));
    if (rest.size() > (hex ? 8u : 10u))
        return std::nullopt;
    const uint64_t value = std::stoull(rest, nullptr, hex ? 16 : 10);
    if (hex) // the 32-bit pattern, negated as a 32-bit pattern
        return int32_t(negative ? uint32_t(0) - uint32_t(value) : uint32_t(value));
    if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        return std::nullopt;
    return int32_t(negative ? -int64_t(value) : int64_t(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<int32_t> expected = ExpectedValue(text);
    try {
        const int value = rd::StrToInt(text);
        FUZZ_CHECK(expected.has_value(), "\"%s\" gave %d, expected the conversion error", qPrintable(text),
                   value);
        FUZZ_CHECK(value == *expected, "\"%s\" gave %d, expected %d", qPrintable(text), value, *expected);
    } catch (const rd::AppError& e) {
        FUZZ_CHECK(!expected.has_value(), "\"%s\" raised, expected %d", qPrintable(text), *expected);
        const QString message =
            QStringLiteral("''") + text + QStringLiteral("'' is not a valid integer value");
        FUZZ_CHECK(e.message() == message, "error text \"%s\"", qPrintable(e.message()));
    }
    return 0;
}
