// Windows only: the console's Ctrl+C, Ctrl+Break and close are taken by a console control
// handler, which only counts them (the system runs it on a thread of its own).
#include "cli/stop_signals.h"

#include <atomic>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace rd::cli {

namespace {

std::atomic<int> g_requests{0};

BOOL WINAPI CountStop(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        g_requests.fetch_add(1);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void InstallStopSignals() {
    ::SetConsoleCtrlHandler(CountStop, TRUE);
}

int StopRequests() {
    return g_requests.load();
}

} // namespace rd::cli
