// The Windows backend on its own: the COM names as Windows has them, the cause of a failed
// open, and the receiver's priorities as the system's thread priorities. Against a reader it
// is driven by readerdesk-linkcheck (scripts/test-windows).
#include "link/platform.h"
#include "link/serial_port.h"
#include "link/win32_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

namespace rd {
namespace {

TEST(Win32PortNames, EveryComNumberIsItsDevice) {
    const struct {
        const char* name;
        const char* device;
    } rows[] = {
        {"COM1", "\\\\.\\COM1"},
        {"com9", "\\\\.\\COM9"},
        {"COM10", "\\\\.\\COM10"},
        {"COM255", "\\\\.\\COM255"},
        {"COM0", ""},
        {"COM256", ""},
        {"LPT1", ""},
        {"COM3:", ""},
    };
    // There is no port directory on Windows: one that is set changes nothing.
    for (const char* dir : {"", "C:\\ports"}) {
        SetPortDirectory(dir);
        for (const auto& r : rows)
            EXPECT_EQ(ResolvePortName(r.name), r.device) << r.name << " with " << dir;
    }
    ResetPortDirectory();
}

TEST(Win32PortNames, AnAbsentPortIsNotListedAndDoesNotOpen) {
    for (const auto& [name, device] : ListPorts(255))
        EXPECT_NE(name, "COM199");
    const struct {
        const char* name;
        const char* device;
    } rows[] = {
        {"COM199", "\\\\.\\COM199"},
        {"LPT1", ""},
    };
    for (const auto& r : rows) {
        PortError e;
        EXPECT_EQ(OpenPort(r.name, e), INVALID_PORT_HANDLE) << r.name;
        EXPECT_EQ(e.err, ENOENT) << r.name;
        EXPECT_EQ(e.text, "no such port") << r.name;
        EXPECT_EQ(e.device, r.device) << r.name;
    }
}

TEST(Win32Thread, PrioritiesAreTheSystemsLevels) {
    const int expected[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                            THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                            THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                            THREAD_PRIORITY_TIME_CRITICAL};
    for (int p = 0; p <= 6; ++p) {
        int seen = -100;
        std::thread t([&] {
            SetCurrentThreadPriority(p);
            seen = ::GetThreadPriority(::GetCurrentThread());
        });
        t.join();
        EXPECT_EQ(seen, expected[p]) << "priority " << p;
    }
}

} // namespace
} // namespace rd
