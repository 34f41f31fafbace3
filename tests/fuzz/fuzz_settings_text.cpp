// The settings text of the serial layer. A text is accepted or refused whatever the settings
// it is applied to; refused, it changes nothing; accepted, it gives valid settings, changes
// only what it names (each field either keeps its start value on both starts or takes the
// same value on both), and applying it again changes nothing more.
#include "link/serial_port.h"

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool Same(const rd::LineSettings& a, const rd::LineSettings& b) {
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity && a.Stop == b.Stop;
}

bool Valid(const rd::LineSettings& s) {
    return s.BaudRate >= 1 && s.ByteSize >= 5 && s.ByteSize <= 8 &&
           std::string("NEOMS").find(s.Parity) != std::string::npos &&
           (s.Stop == rd::StopBits::One || s.Stop == rd::StopBits::OnePointFive ||
            s.Stop == rd::StopBits::Two);
}

template <typename T> bool Consistent(T startA, T resultA, T startB, T resultB) {
    const bool keptA = resultA == startA;
    const bool keptB = resultB == startB;
    return (keptA && keptB) || resultA == resultB;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const rd::LineSettings startA{9600, 7, 'E', rd::StopBits::One};
    const rd::LineSettings startB{115200, 8, 'N', rd::StopBits::Two};
    rd::LineSettings a = startA;
    rd::LineSettings b = startB;
    const bool okA = rd::BuildCommDCB(text, a);
    const bool okB = rd::BuildCommDCB(text, b);
    FUZZ_CHECK(okA == okB, "accepted on one start and refused on the other");
    if (!okA) {
        FUZZ_CHECK(Same(a, startA) && Same(b, startB), "a refused text changed the settings");
        return 0;
    }
    FUZZ_CHECK(Valid(a) && Valid(b), "accepted text gave invalid settings");
    FUZZ_CHECK(Consistent(startA.BaudRate, a.BaudRate, startB.BaudRate, b.BaudRate), "baud differs by start");
    FUZZ_CHECK(Consistent(startA.ByteSize, a.ByteSize, startB.ByteSize, b.ByteSize), "data differs by start");
    FUZZ_CHECK(Consistent(startA.Parity, a.Parity, startB.Parity, b.Parity), "parity differs by start");
    FUZZ_CHECK(Consistent(startA.Stop, a.Stop, startB.Stop, b.Stop), "stop differs by start");
    rd::LineSettings again = a;
    FUZZ_CHECK(rd::BuildCommDCB(text, again) && Same(again, a), "applying the text twice changed more");
    return 0;
}
