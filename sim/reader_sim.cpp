#include "sim/reader_sim.h"

#include "sim/reader_core.h"
#include "sim/tcp_bridge.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace rd::sim {

namespace {

using Clock = SimClock;
using std::chrono::milliseconds;

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// The pty's master side as the reader's line. The master is non-blocking: a full pty takes
// nothing, and the thread waits for it to take more.
class PtyLine : public Line {
  public:
    PtyLine(int master, int slave) : master_(master), slave_(slave) {}

    size_t write(const char* data, size_t size) override {
        for (;;) {
            ssize_t n = ::write(master_, data, size);
            if (n >= 0) {
                return static_cast<size_t>(n);
            }
            if (errno != EINTR) {
                return 0;
            }
        }
    }

    // poll() on the slave (it does not read) also pushes bytes still on their way from the
    // master into the slave's queue before it looks.
    bool unread() override {
        pollfd p{slave_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    }

  private:
    int master_;
    int slave_;
};

} // namespace

ReaderGroup GroupOf(const std::string& identifier) {
    if (identifier == "VKR900-15" || identifier == "VKR900-12" || identifier == "VKR900-153") {
        return ReaderGroup::Uhf900;
    }
    if (identifier == "VKR433-16" || identifier == "VKR433-SAW") {
        return ReaderGroup::Sensor433;
    }
    return ReaderGroup::Plain;
}

struct ReaderSim::Impl {
    explicit Impl(Options options) : opt(std::move(options)), core(opt) {}

    const Options opt;
    // Set up by the constructor; from then on closed only by the thread (and after it by the
    // destructor), so the thread uses them without the mutex.
    int master = -1;
    int slaveKeep = -1;
    int wake = -1;
    std::string slavePath;
    std::string linkPath;

    // Guards the core and the two flags below. Waiters on cv are woken when a request is
    // recorded, an answer counted or the line hung up.
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    ReaderCore core;
    bool stopping = false;
    bool hangUpRequested = false;
    // answersSent() without the mutex.
    std::atomic<uint64_t> answersSent{0};

    std::thread thread;

    void Wake() const {
        uint64_t one = 1;
        ssize_t r = ::write(wake, &one, sizeof one);
        (void)r;
    }

    // --- The thread: a tick under the mutex, then one poll step without it. ---

    void Run() {
        for (;;) {
            NextTick next;
            {
                std::lock_guard lock(mu);
                if (stopping) {
                    return;
                }
                next = Tick(Clock::now());
            }
            PollOnce(next);
        }
    }

    // Does what is due (a hang-up asked for, then the core's tick on the pty) and says when
    // to run again. With mu held.
    NextTick Tick(Clock::time_point now) {
        const uint64_t mark = Progress();
        if (hangUpRequested) {
            hangUpRequested = false;
            core.hangUp();
        }
        PtyLine line(master, slaveKeep);
        const NextTick next = core.tick(now, line);
        if (core.hungUp()) {
            CloseMaster();
        }
        Published(mark);
        return next;
    }

    // Waits for bytes from the program, room on the pty when next asks for it, a wake-up or
    // next's time, and hands what arrived to the core. Without mu.
    void PollOnce(const NextTick& next) {
        int timeout = -1;
        if (next.at) {
            auto ms = std::chrono::duration_cast<milliseconds>(*next.at - Clock::now()).count() + 1;
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
        }
        pollfd fds[2] = {{wake, POLLIN, 0},
                         {master, static_cast<short>(POLLIN | (next.whenWritable ? POLLOUT : 0)), 0}};
        const nfds_t nfds = master >= 0 ? 2 : 1;
        if (::poll(fds, nfds, timeout) <= 0) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t v;
            ssize_t n = ::read(wake, &v, sizeof v);
            (void)n;
        }
        if (nfds == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            uint8_t buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard lock(mu);
                const uint64_t mark = Progress();
                core.receive(buf, static_cast<size_t>(n), Clock::now());
                Published(mark);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // We hold a slave descriptor, so this should not happen; do not spin on it.
                std::this_thread::sleep_for(milliseconds(10));
            }
        }
    }

    // What the waiters wait for, as one number that only grows. With mu held.
    uint64_t Progress() const {
        return core.requests().size() + core.answersSent() + (core.hungUp() ? 1 : 0);
    }

    void Published(uint64_t mark) {
        answersSent.store(core.answersSent(), std::memory_order_relaxed);
        if (Progress() != mark) {
            cv.notify_all();
        }
    }

    // Closes the pty and removes the link (the core has hung up). With mu held, or without
    // the thread.
    void CloseMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
        if (slaveKeep >= 0) {
            ::close(slaveKeep);
            slaveKeep = -1;
        }
        RemoveLink();
    }

    void RemoveLink() {
        if (linkPath.empty()) {
            return;
        }
        char target[256];
        ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<size_t>(n)) == slavePath) {
            ::unlink(linkPath.c_str());
        }
        linkPath.clear();
    }
};

ReaderSim::ReaderSim(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {
    Impl& d = *impl_;
    d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.master < 0) {
        ThrowErrno("posix_openpt");
    }
    auto fail = [&](const std::string& what) {
        int e = errno;
        if (d.slaveKeep >= 0) {
            ::close(d.slaveKeep);
        }
        if (d.wake >= 0) {
            ::close(d.wake);
        }
        ::close(d.master);
        errno = e;
        ThrowErrno(what);
    };
    if (::grantpt(d.master) != 0 || ::unlockpt(d.master) != 0) {
        fail("grantpt/unlockpt");
    }
    char name[128];
    if (::ptsname_r(d.master, name, sizeof name) != 0) {
        fail("ptsname_r");
    }
    d.slavePath = name;
    d.slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.slaveKeep < 0) {
        fail("open " + d.slavePath);
    }
    termios tio{};
    if (::tcgetattr(d.slaveKeep, &tio) != 0) {
        fail("tcgetattr");
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD | CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(d.slaveKeep, TCSANOW, &tio) != 0) {
        fail("tcsetattr");
    }
    int flags = ::fcntl(d.master, F_GETFL);
    if (flags < 0 || ::fcntl(d.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        fail("fcntl");
    }
    d.wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wake < 0) {
        fail("eventfd");
    }
    if (!d.opt.portDir.empty()) {
        d.linkPath = d.opt.portDir + "/COM" + std::to_string(d.opt.comNumber);
        ::unlink(d.linkPath.c_str()); // a stale entry from an earlier run
        if (::symlink(d.slavePath.c_str(), d.linkPath.c_str()) != 0) {
            d.linkPath.clear();
            fail("symlink in " + d.opt.portDir);
        }
    }
    if (d.opt.tcpPort >= 0) {
        try {
            bridge_ = std::make_unique<TcpBridge>(d.slavePath, static_cast<uint16_t>(d.opt.tcpPort));
        } catch (const std::system_error&) {
            d.CloseMaster();
            ::close(d.wake);
            throw;
        }
    }
    if (d.opt.hangUpAfterRequests == 0) {
        d.core.hangUp();
        d.CloseMaster();
    }
    d.thread = std::thread([&d] { d.Run(); });
}

ReaderSim::~ReaderSim() {
    bridge_.reset();
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mu);
        d.stopping = true;
    }
    d.Wake();
    d.thread.join();
    d.CloseMaster();
    ::close(d.wake);
}

const Options& ReaderSim::options() const {
    return impl_->opt;
}
std::string ReaderSim::slavePath() const {
    return impl_->slavePath;
}
std::string ReaderSim::comName() const {
    return "COM" + std::to_string(impl_->opt.comNumber);
}

std::string ReaderSim::portPath() const {
    if (impl_->opt.portDir.empty()) {
        return {};
    }
    return impl_->opt.portDir + "/" + comName();
}

std::string ReaderSim::tcpPortName() const {
    return bridge_ ? bridge_->portName() : std::string();
}

std::vector<std::vector<uint8_t>> ReaderSim::requests() const {
    std::lock_guard lock(impl_->mu);
    return impl_->core.requests();
}

std::vector<std::string> ReaderSim::commands() const {
    std::lock_guard lock(impl_->mu);
    return impl_->core.commands();
}

size_t ReaderSim::requestCount() const {
    std::lock_guard lock(impl_->mu);
    return impl_->core.requests().size();
}

bool ReaderSim::waitForRequests(size_t n, int timeoutMs) const {
    std::unique_lock lock(impl_->mu);
    return impl_->cv.wait_for(lock, milliseconds(timeoutMs),
                              [&] { return impl_->core.requests().size() >= n; });
}

std::vector<std::string> ReaderSim::answers() const {
    std::lock_guard lock(impl_->mu);
    return {impl_->core.answers().begin(), impl_->core.answers().end()};
}

uint64_t ReaderSim::answersSent() const {
    return impl_->answersSent.load(std::memory_order_relaxed);
}

bool ReaderSim::waitForAnswersSent(uint64_t n, int timeoutMs) const {
    std::unique_lock lock(impl_->mu);
    return impl_->cv.wait_for(lock, milliseconds(timeoutMs), [&] { return impl_->core.answersSent() >= n; });
}

void ReaderSim::sendRaw(std::string bytes) {
    {
        std::lock_guard lock(impl_->mu);
        impl_->core.sendRaw(std::move(bytes));
    }
    impl_->Wake();
}

void ReaderSim::sendAnswer(const std::string& keywordAndArgs) {
    {
        std::lock_guard lock(impl_->mu);
        impl_->core.sendAnswer(keywordAndArgs);
    }
    impl_->Wake();
}

void ReaderSim::hangUp() {
    std::unique_lock lock(impl_->mu);
    if (impl_->core.hungUp()) {
        return;
    }
    impl_->hangUpRequested = true;
    impl_->Wake();
    impl_->cv.wait(lock, [&] { return impl_->core.hungUp(); });
}

bool ReaderSim::hungUp() const {
    std::lock_guard lock(impl_->mu);
    return impl_->core.hungUp();
}

void ReaderSim::startFlood() {
    {
        std::lock_guard lock(impl_->mu);
        impl_->core.startFlood();
    }
    impl_->Wake();
}

void ReaderSim::stopFlood() {
    {
        std::lock_guard lock(impl_->mu);
        impl_->core.stopFlood();
    }
    impl_->Wake();
}

bool ReaderSim::inventoryRunning() const {
    std::lock_guard lock(impl_->mu);
    return impl_->core.inventoryRunning();
}

std::string MakeTempPortDir() {
    std::string tmpl = "/tmp/readerdesk-ports-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) {
        ThrowErrno("mkdtemp");
    }
    return tmpl;
}

TempPortDir::TempPortDir() : path_(MakeTempPortDir()) {}

TempPortDir::~TempPortDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace rd::sim
