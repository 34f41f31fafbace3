#include "platform.h"

#include <cstdint>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace rd {

namespace {

HANDLE toHandle(int fd) {
    // Sign-extended back, as handles handed between 32- and 64-bit code are.
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

} // namespace

int CreateWakeFd() {
    const HANDLE h = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (h == nullptr)
        return -1;
    const intptr_t value = reinterpret_cast<intptr_t>(h);
    if (value <= 0 || value > INT32_MAX) {
        ::CloseHandle(h);
        return -1;
    }
    return static_cast<int>(value);
}

void CloseWakeFd(int fd) {
    if (fd >= 0)
        ::CloseHandle(toHandle(fd));
}

void SignalWakeFd(int fd) {
    if (fd >= 0)
        ::SetEvent(toHandle(fd));
}

bool WaitWakeFd(int fd, int ms) {
    if (fd < 0) {
        ::Sleep(static_cast<DWORD>(ms < 0 ? 0 : ms));
        return false;
    }
    // An auto-reset event: the wait that sees it also drains it.
    return ::WaitForSingleObject(toHandle(fd), static_cast<DWORD>(ms < 0 ? 0 : ms)) == WAIT_OBJECT_0;
}

void SetCurrentThreadPriority(int priority) {
    static const int kLevels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                  THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                  THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                  THREAD_PRIORITY_TIME_CRITICAL};
    const int index = priority < 0 ? 0 : priority > 6 ? 6 : priority;
    if (index != 3)
        ::SetThreadPriority(::GetCurrentThread(), kLevels[index]);
}

} // namespace rd
