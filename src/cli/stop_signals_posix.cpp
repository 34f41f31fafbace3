// POSIX only: SIGINT, SIGTERM and SIGHUP (a closed terminal, a dropped ssh connection) are
// blocked in every thread and taken by one thread of their own with sigwait, which only
// counts them. A SIGHUP that is ignored from the start (nohup) stays ignored.
#include "cli/stop_signals.h"

#include <atomic>
#include <csignal>
#include <thread>

#include <pthread.h>

namespace rd::cli {

namespace {

std::atomic<int> g_requests{0};

void Ignore(int) {}

} // namespace

void InstallStopSignals() {
    // A handler of our own first: a signal whose action is to be ignored (as a shell leaves
    // it for a job started in the background) would be discarded rather than kept for sigwait.
    struct sigaction sa {};
    sa.sa_handler = Ignore;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    struct sigaction hangUp {};
    sigaction(SIGHUP, nullptr, &hangUp);
    const bool hangUpIgnored = hangUp.sa_handler == SIG_IGN;
    if (!hangUpIgnored)
        sigaction(SIGHUP, &sa, nullptr);

    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (!hangUpIgnored)
        sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) == 0)
                g_requests.fetch_add(1);
        }
    }).detach();
}

int StopRequests() {
    return g_requests.load();
}

} // namespace rd::cli
