// The parts of the serial layer that are the same on every platform: the settings text, the
// COM numbers and the handle table.
#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace rd {
namespace {

TEST(BuildCommDCB, SettingsTexts) {
    const LineSettings start{9600, 7, 'E', StopBits::One};
    const struct {
        const char* text;
        LineSettings result;
    } rows[] = {
        {"COM3: baud=115200 parity=N data=8 stop=2", {115200, 8, 'N', StopBits::Two}},
        {"COM12:baud=57600", {57600, 7, 'E', StopBits::One}},
        {"baud=1200 parity=o", {1200, 7, 'O', StopBits::One}},
        {"COM1: PARITY=M DATA=5 STOP=1.5", {9600, 5, 'M', StopBits::OnePointFive}},
        {"COM1: parity=s stop=1", {9600, 7, 'S', StopBits::One}},
        {"COM1:   data=6\tbaud=300  ", {300, 6, 'E', StopBits::One}},
    };
    for (const auto& r : rows) {
        LineSettings s = start;
        EXPECT_TRUE(BuildCommDCB(r.text, s)) << r.text;
        EXPECT_EQ(s.BaudRate, r.result.BaudRate) << r.text;
        EXPECT_EQ(s.ByteSize, r.result.ByteSize) << r.text;
        EXPECT_EQ(s.Parity, r.result.Parity) << r.text;
        EXPECT_EQ(s.Stop, r.result.Stop) << r.text;
    }
}

TEST(BuildCommDCB, MalformedTextsChangeNothing) {
    const char* malformed[] = {
        "",
        "COM3:",
        "COM3: baud=",
        "COM3: baud=0",
        "COM3: baud=-9600",
        "COM3: baud=12ab",
        "COM3: baud=99999999999",
        "COM3: parity=X",
        "COM3: parity=NN",
        "COM3: data=4",
        "COM3: data=9",
        "COM3: stop=3",
        "COM3: stop=1.0",
        "COM3: speed=9600",
        "COM3: baud 9600",
        "COM3: baud=9600 parity=Q", // a bad second item spoils the first as well
        "COM 3: baud=9600",
        ": baud=9600",
        "COM3: =8",
    };
    for (const char* text : malformed) {
        LineSettings s{4800, 7, 'E', StopBits::One};
        EXPECT_FALSE(BuildCommDCB(text, s)) << text;
        EXPECT_EQ(s.BaudRate, 4800u) << text;
        EXPECT_EQ(s.ByteSize, 7) << text;
        EXPECT_EQ(s.Parity, 'E') << text;
        EXPECT_EQ(s.Stop, StopBits::One) << text;
    }
}

TEST(PortNames, ComNumbers) {
    const struct {
        const char* name;
        int number;
    } rows[] = {
        {"COM1", 1},  {"COM20", 20}, {"com3", 3}, {"Com255", 255}, {"COM0", 0},   {"COM", 0},
        {"COM01", 0}, {"COM3:", 0},  {"LPT1", 0}, {"COM-1", 0},    {"COM256", 0}, {" COM1", 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ComPortNumber(r.name), r.number) << r.name;
}

TEST(PortHandles, UnknownHandlesFail) {
    char buf[4];
    uint32_t n = 7;
    LineSettings s{};
    for (PortHandle bad : {PortHandle{0}, INVALID_PORT_HANDLE, PortHandle{0x7FFF}}) {
        const PortError read = ReadFile(bad, buf, 4, &n);
        EXPECT_FALSE(read.ok());
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(read.err, EBADF);
        EXPECT_EQ(read.text, "the port is not open");
        const PortError write = WriteFile(bad, buf, 4, &n);
        EXPECT_FALSE(write.ok());
        EXPECT_EQ(write.err, EBADF);
        EXPECT_FALSE(SetCommTimeouts(bad, {}));
        EXPECT_FALSE(SetupComm(bad, 1, 1));
        EXPECT_FALSE(GetCommState(bad, s));
        EXPECT_FALSE(SetCommState(bad, s));
        EXPECT_FALSE(PurgeComm(bad, PURGE_RXCLEAR));
        EXPECT_FALSE(ClosePort(bad));
    }
}

} // namespace
} // namespace rd
