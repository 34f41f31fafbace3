#include "link/platform.h"

#include "link/win32_system.h"

#include <utility>

namespace rd {

WakeSignal::WakeSignal() : handle_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

WakeSignal::~WakeSignal() {
    close();
}

WakeSignal::WakeSignal(WakeSignal&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

WakeSignal& WakeSignal::operator=(WakeSignal&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void WakeSignal::close() {
    if (handle_ != nullptr)
        ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool WakeSignal::valid() const {
    return handle_ != nullptr;
}

void WakeSignal::signal() const {
    if (handle_ != nullptr)
        ::SetEvent(static_cast<HANDLE>(handle_));
}

bool WakeSignal::wait(int ms) const {
    const DWORD wait = static_cast<DWORD>(ms < 0 ? 0 : ms);
    if (handle_ == nullptr) {
        ::Sleep(wait);
        return false;
    }
    // An auto-reset event: the wait that sees it also takes it.
    return ::WaitForSingleObject(static_cast<HANDLE>(handle_), wait) == WAIT_OBJECT_0;
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
