#include "link/platform.h"

#include <chrono>
#include <cstdint>
#include <thread>

#include <cerrno>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace rd {

int CreateWakeFd() {
    return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void CloseWakeFd(int fd) {
    if (fd >= 0)
        ::close(fd);
}

void SignalWakeFd(int fd) {
    if (fd < 0)
        return;
    // A full eventfd counter or pipe already means "look again"; nothing is lost.
    const uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool WaitWakeFd(int fd, int ms) {
    if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return false;
    }
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, ms) <= 0)
        return false;
    uint64_t value;
    while (::read(fd, &value, sizeof value) > 0) {
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
