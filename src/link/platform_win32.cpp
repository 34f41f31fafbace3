#include "link/platform.h"

#include "link/win32_system.h"

#include <cstdint>

namespace rd {

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
        ::CloseHandle(WakeHandle(fd));
}

void SignalWakeFd(int fd) {
    if (fd >= 0)
        ::SetEvent(WakeHandle(fd));
}

bool WaitWakeFd(int fd, int ms) {
    if (fd < 0) {
        ::Sleep(static_cast<DWORD>(ms < 0 ? 0 : ms));
        return false;
    }
    // An auto-reset event: the wait that sees it also drains it.
    return ::WaitForSingleObject(WakeHandle(fd), static_cast<DWORD>(ms < 0 ? 0 : ms)) == WAIT_OBJECT_0;
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
