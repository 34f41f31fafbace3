#include "link/platform.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>

#include <cerrno>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace rd {

WakeSignal::WakeSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeSignal::~WakeSignal() {
    close();
}

WakeSignal::WakeSignal(WakeSignal&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

WakeSignal& WakeSignal::operator=(WakeSignal&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void WakeSignal::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool WakeSignal::valid() const {
    return fd_ >= 0;
}

void WakeSignal::signal() const {
    if (fd_ < 0)
        return;
    // A full eventfd counter already means "look again"; nothing is lost.
    const uint64_t one = 1;
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool WakeSignal::wait(int ms) const {
    if (fd_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return false;
    }
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, ms) <= 0)
        return false;
    uint64_t value;
    while (::read(fd_, &value, sizeof value) > 0) {
    }
    return true;
}

// Priorities as nice steps for this thread alone.
void SetCurrentThreadPriority(int priority) {
    if (priority == 3)
        return;
    if (priority <= 0) {
        sched_param p{};
        ::sched_setscheduler(0, SCHED_IDLE, &p); // 0: the calling thread
        return;
    }
    static const int kNiceDelta[] = {19, 10, 5, 0, -5, -10, -20};
    const int index = priority > 6 ? 6 : priority;
    const pid_t tid = static_cast<pid_t>(::gettid());
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0)
        return;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), base + kNiceDelta[index]);
}

} // namespace rd
