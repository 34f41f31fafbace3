#include "reader_sim.h"

#include "request_parser.h"
#include "tcp_bridge.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace rd::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::string Hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        size_t j = i;
        while (j < text.size() && text[j] != ' ') {
            ++j;
        }
        if (j > i) {
            words.push_back(text.substr(i, j - i));
        }
        i = j;
    }
    return words;
}

// A triangle wave: 0, 1, ..., amplitude, ..., 1, 0, -1, ..., -amplitude, ..., -1, 0, ...
// Consecutive values differ by exactly 1.
int Triangle(int n, int amplitude) {
    const int period = 4 * amplitude;
    int p = n % period;
    if (p <= amplitude) {
        return p;
    }
    if (p <= 3 * amplitude) {
        return 2 * amplitude - p;
    }
    return p - 4 * amplitude;
}

// Bytes a noisy line might carry between frames; no ':' or ';', so a sound answer cutter
// discards them all.
const std::string kGarbage = std::string("\x00\x7F#~\xFF\r\n?", 9);

// Inventory cycles are skipped while this much output waits: nobody reads the pty, and a
// reader on a line nobody listens to loses its answers too.
constexpr size_t kMaxBacklog = 64 * 1024;
// The record of answers keeps the latest ones only, for simulators that run for hours.
constexpr size_t kMaxRecordedAnswers = 100000;

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

// One piece of output: written when it is first in the queue and its gap has passed.
struct Chunk {
    std::string bytes;
    int gapBeforeMs = 0;
    size_t written = 0;
    std::optional<Clock::time_point> due;
    // Offsets just past the ";" of each answer frame in bytes, with the frame's text (empty
    // text: not recorded, as for the flood).
    std::vector<std::pair<size_t, std::string>> frameEnds;
};

struct ReaderSim::Impl {
    Options opt;
    ReaderGroup group;
    int master = -1;
    int slaveKeep = -1;
    int wake = -1;
    std::string slavePath;
    std::string linkPath;

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    std::vector<std::vector<uint8_t>> requests;
    std::vector<std::string> commands;
    std::deque<std::string> answers;
    std::atomic<uint64_t> answersSent{0};
    std::deque<Chunk> queue;
    size_t queuedBytes = 0;
    std::string lastCounter = "00000000";

    bool stopping = false;
    bool hangUpRequested = false;
    bool hangUpWhenDrained = false;
    std::optional<Clock::time_point> drainDeadline;
    bool isHungUp = false;
    bool flooding = false;

    // Inventory run.
    bool running = false;
    std::string runCounter;
    int stopCount = 0;
    Clock::time_point nextCycle;
    std::vector<std::string> epcs;
    // Reads of each tag since the run began (for varySignal).
    std::vector<int> tagReads;

    // Collections in progress: when each ends, and the counter text to answer with.
    std::vector<std::pair<Clock::time_point, std::string>> collections;
    std::map<std::string, int> sensorReads;

    RequestParser parser;
    std::thread thread;

    void Wake() const {
        uint64_t one = 1;
        ssize_t r = ::write(wake, &one, sizeof one);
        (void)r;
    }

    // --- Output (called with mu held). ---

    void Enqueue(Chunk c) {
        queuedBytes += c.bytes.size();
        queue.push_back(std::move(c));
    }

    // Frames "<counter> text" as an answer and queues it with the answer options.
    void QueueAnswer(const std::string& counter, const std::string& text, int delayMs) {
        const std::string frame = ":" + counter + " " + text + ";";
        std::string bytes = frame;
        if (opt.crlf) {
            bytes += "\r\n";
        }
        int gap = delayMs;
        if (opt.garbage) {
            Enqueue(Chunk{kGarbage, gap, 0, std::nullopt, {}});
            gap = 0;
        }
        // Cut points with the gap before each piece.
        std::map<size_t, int> cuts;
        const int parts = std::max(1, std::min<int>(opt.splitParts, static_cast<int>(bytes.size())));
        for (int k = 1; k < parts; ++k) {
            cuts[bytes.size() * k / parts] = opt.splitGapMs;
        }
        if (opt.pauseInsideMs > 0 && bytes.size() > 1) {
            int& g = cuts[bytes.size() / 2];
            g = std::max(g, opt.pauseInsideMs);
        }
        std::vector<std::pair<size_t, int>> pieces(cuts.begin(), cuts.end()); // (end, gap after)
        pieces.emplace_back(bytes.size(), 0);
        const size_t frameEnd = frame.size(); // just past the ";"
        size_t from = 0;
        for (auto [to, gapAfter] : pieces) {
            Chunk c{bytes.substr(from, to - from), gap, 0, std::nullopt, {}};
            if (from < frameEnd && frameEnd <= to) {
                c.frameEnds.emplace_back(frameEnd - from, frame);
            }
            Enqueue(std::move(c));
            from = to;
            gap = gapAfter;
        }
    }

    // The tag answer's words after "INV": antenna, PC word, EPC and signal strength. Only
    // the strength may change from read to read, and only with varySignal.
    std::string TagWords(size_t i) {
        const auto pc = static_cast<unsigned>((epcs[i].size() + 3) / 4) * 0x800u;
        int rssi = -50 - static_cast<int>(i % 8) * 3;
        if (opt.varySignal) {
            rssi += Triangle(tagReads[i]++, 3);
        }
        return "1 " + Hex(pc & 0xFFFFu, 4) + " " + epcs[i] + " " + std::to_string(rssi);
    }

    // One inventory cycle: into out (the flood's batch) or queued as answers.
    void QueueCycle(const std::string& counter, std::string* out, int* frames) {
        if (out == nullptr && queuedBytes > kMaxBacklog) {
            return;
        }
        auto add = [&](const std::string& text) {
            if (out != nullptr) {
                std::string frame = ":" + counter + " " + text + ";";
                *out += frame;
                if (opt.crlf) {
                    *out += "\r\n";
                }
                ++*frames;
                return;
            }
            QueueAnswer(counter, text, 0);
        };
        add("START_INVENTORY");
        for (size_t i = 0; i < epcs.size(); ++i) {
            add("INV " + TagWords(i));
        }
    }

    std::string UidRecord(const std::string& tag) {
        const int n = sensorReads[tag]++;
        const auto index = static_cast<int>(std::find(opt.sensorTags.begin(), opt.sensorTags.end(), tag) -
                                            opt.sensorTags.begin());
        const unsigned t = 22 + 2 * index + Triangle(n / 2, 2);
        const unsigned h = 45 + index + Triangle(n / 3, 3);
        const unsigned mf = 100 + Triangle(n, 4);
        const unsigned cf = 50 + Triangle(n / 2, 5);
        std::string rec = tag.substr(0, 13);
        rec.resize(13, '0');
        rec += "-" + Hex(static_cast<unsigned>(n), 8); // 14-22: read sequence
        rec += Hex(t, 2) + Hex(h, 2);                  // 23-26
        rec += "0000";                                 // 27-30
        rec += Hex(mf, 4) + Hex(cf, 4);                // 31-38
        rec += "00";
        return rec;
    }

    // --- Requests (called with mu held). ---

    void Handle(const Request& req) {
        requests.push_back(req.raw);
        commands.push_back(req.command);
        lastCounter = req.counter;
        cv.notify_all();
        const bool last =
            opt.hangUpAfterRequests >= 0 && requests.size() >= static_cast<size_t>(opt.hangUpAfterRequests);
        if (!opt.silent) {
            Answer(req);
        }
        if (last) {
            hangUpWhenDrained = true;
        }
    }

    void Answer(const Request& req) {
        const auto words = Words(req.command);
        const std::string cmd = words.empty() ? std::string() : words[0];
        const std::string& c = req.counter;
        const int delay = opt.replyDelayMs;
        if (cmd == "VERSION") {
            QueueAnswer(c, "VERSION " + opt.identifier, delay);
            return;
        }
        if (group == ReaderGroup::Uhf900 && cmd == "KELM_EPC_INVENTORY_TIME") {
            running = true;
            runCounter = c;
            stopCount = 0;
            tagReads.assign(epcs.size(), 0);
            nextCycle = Clock::now() + milliseconds(delay);
            return;
        }
        if (group == ReaderGroup::Uhf900 && cmd == "EPC_STOP") {
            if (++stopCount >= std::max(1, opt.stopConfirmAfter)) {
                stopCount = 0;
                running = false;
                if (opt.confirmStop) {
                    QueueAnswer(c, "STOP_INVENTORY", delay);
                }
            }
            return;
        }
        if (group == ReaderGroup::Sensor433 && cmd == "SEND_COP_COLLECTION") {
            QueueAnswer(c, "collection_start..", delay);
            collections.emplace_back(Clock::now() + milliseconds(delay + opt.collectionMs), c);
            return;
        }
        if (group == ReaderGroup::Sensor433 && cmd == "SEND_COP_READ_USER_ID") {
            std::string tag = words.size() >= 3 ? words[1] + "-" + words[2] : std::string();
            bool known = std::find(opt.sensorTags.begin(), opt.sensorTags.end(), tag) != opt.sensorTags.end();
            QueueAnswer(c, known ? "UID " + UidRecord(tag) : "NO_ACK", delay);
            return;
        }
        QueueAnswer(c, "OK", delay);
    }

    // --- The thread. ---

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
        queue.clear();
        queuedBytes = 0;
        running = false;
        flooding = false;
        collections.clear();
        isHungUp = true;
        cv.notify_all();
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

    // Writes what is due; returns when the head of the queue is due next (or nullopt).
    void WriteDue(Clock::time_point now) {
        while (!queue.empty() && master >= 0) {
            Chunk& head = queue.front();
            if (!head.due) {
                head.due = now + milliseconds(head.gapBeforeMs);
            }
            if (*head.due > now) {
                return;
            }
            size_t before = head.written;
            if (head.written < head.bytes.size()) {
                ssize_t n =
                    ::write(master, head.bytes.data() + head.written, head.bytes.size() - head.written);
                if (n < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return; // EAGAIN: wait for POLLOUT
                }
                head.written += static_cast<size_t>(n);
            }
            bool counted = false;
            for (auto& [end, text] : head.frameEnds) {
                if (end > before && end <= head.written) {
                    answersSent.fetch_add(1, std::memory_order_relaxed);
                    if (!text.empty()) {
                        answers.push_back(text);
                        if (answers.size() > kMaxRecordedAnswers) {
                            answers.pop_front();
                        }
                    }
                    counted = true;
                }
            }
            if (counted) {
                cv.notify_all();
            }
            if (head.written < head.bytes.size()) {
                return;
            }
            queuedBytes -= head.bytes.size();
            queue.pop_front();
        }
    }

    void Run() {
        std::unique_lock lock(mu);
        uint8_t buf[4096];
        while (!stopping) {
            auto now = Clock::now();
            if (hangUpRequested) {
                hangUpRequested = false;
                CloseMaster();
            }
            if (master >= 0) {
                // Inventory cycles that are due.
                if (running && !flooding && now >= nextCycle) {
                    QueueCycle(runCounter, nullptr, nullptr);
                    nextCycle += milliseconds(std::max(1, opt.cyclePeriodMs));
                    if (nextCycle < now) {
                        nextCycle = now + milliseconds(std::max(1, opt.cyclePeriodMs));
                    }
                }
                for (auto it = collections.begin(); it != collections.end();) {
                    if (now >= it->first) {
                        QueueAnswer(it->second, "collection_stop", 0);
                        it = collections.erase(it);
                    } else {
                        ++it;
                    }
                }
                if (flooding && queue.empty()) {
                    Chunk c;
                    int frames = 0;
                    while (c.bytes.size() < 8192) {
                        size_t mark = c.bytes.size();
                        int before = frames;
                        QueueCycle(lastCounter, &c.bytes, &frames);
                        // Frame ends inside this cycle's bytes.
                        size_t pos = mark;
                        for (int k = before; k < frames; ++k) {
                            pos = c.bytes.find(';', pos) + 1;
                            c.frameEnds.emplace_back(pos, std::string());
                        }
                    }
                    Enqueue(std::move(c));
                }
                WriteDue(now);
                if (hangUpWhenDrained && queue.empty()) {
                    // Let the program read what was sent before the line goes: a hang-up
                    // drops what is still in the slave's input queue.
                    if (!drainDeadline) {
                        drainDeadline = now + milliseconds(2000);
                    }
                    // poll() on the slave (it does not read) also pushes bytes still on their
                    // way from the master into the slave's queue before it looks.
                    pollfd p{slaveKeep, POLLIN, 0};
                    const bool pending = ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
                    if (!pending || now >= *drainDeadline) {
                        hangUpWhenDrained = false;
                        drainDeadline.reset();
                        CloseMaster();
                    }
                }
            }

            // When to look again.
            std::optional<Clock::time_point> next;
            auto consider = [&](Clock::time_point t) {
                if (!next || t < *next) {
                    next = t;
                }
            };
            bool wantOut = false;
            if (master >= 0) {
                if (running && !flooding) {
                    consider(nextCycle);
                }
                for (auto& [t, counter] : collections) {
                    consider(t);
                }
                if (drainDeadline) {
                    consider(now + milliseconds(5));
                }
                if (flooding && queue.empty()) {
                    wantOut = true; // the next batch goes as soon as the pty takes it
                } else if (!queue.empty()) {
                    if (queue.front().due && *queue.front().due > now) {
                        consider(*queue.front().due);
                    } else {
                        wantOut = true;
                    }
                }
            }
            int timeout = -1;
            if (next) {
                auto ms = std::chrono::duration_cast<milliseconds>(*next - Clock::now()).count() + 1;
                timeout = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
            }
            pollfd fds[2] = {{wake, POLLIN, 0},
                             {master, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0}};
            const nfds_t nfds = master >= 0 ? 2 : 1;
            lock.unlock();
            int r = ::poll(fds, nfds, timeout);
            lock.lock();
            if (r <= 0) {
                continue;
            }
            if (fds[0].revents & POLLIN) {
                uint64_t v;
                ssize_t n = ::read(wake, &v, sizeof v);
                (void)n;
            }
            if (nfds == 2 && master >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) {
                    for (const Request& req : parser.Feed(buf, static_cast<size_t>(n))) {
                        Handle(req);
                        if (master < 0) {
                            break;
                        }
                    }
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    // We hold a slave descriptor, so this should not happen; do not spin on it.
                    lock.unlock();
                    std::this_thread::sleep_for(milliseconds(10));
                    lock.lock();
                }
            }
        }
    }
};

ReaderSim::ReaderSim(Options options) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.opt = std::move(options);
    d.group = GroupOf(d.opt.identifier);
    if (d.opt.epcs.empty()) {
        for (int i = 1; i <= d.opt.tagCount; ++i) {
            d.epcs.push_back("3008" + Hex(static_cast<unsigned>(i), 12));
        }
    } else {
        d.epcs = d.opt.epcs;
    }
    d.tagReads.assign(d.epcs.size(), 0);

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
    return impl_->requests;
}

std::vector<std::string> ReaderSim::commands() const {
    std::lock_guard lock(impl_->mu);
    return impl_->commands;
}

size_t ReaderSim::requestCount() const {
    std::lock_guard lock(impl_->mu);
    return impl_->requests.size();
}

bool ReaderSim::waitForRequests(size_t n, int timeoutMs) const {
    std::unique_lock lock(impl_->mu);
    return impl_->cv.wait_for(lock, milliseconds(timeoutMs), [&] { return impl_->requests.size() >= n; });
}

std::vector<std::string> ReaderSim::answers() const {
    std::lock_guard lock(impl_->mu);
    return {impl_->answers.begin(), impl_->answers.end()};
}

uint64_t ReaderSim::answersSent() const {
    return impl_->answersSent.load(std::memory_order_relaxed);
}

bool ReaderSim::waitForAnswersSent(uint64_t n, int timeoutMs) const {
    std::unique_lock lock(impl_->mu);
    return impl_->cv.wait_for(lock, milliseconds(timeoutMs), [&] { return impl_->answersSent.load() >= n; });
}

void ReaderSim::sendRaw(std::string bytes) {
    {
        std::lock_guard lock(impl_->mu);
        if (impl_->master < 0) {
            return;
        }
        impl_->Enqueue(Chunk{std::move(bytes), 0, 0, std::nullopt, {}});
    }
    impl_->Wake();
}

void ReaderSim::sendAnswer(const std::string& keywordAndArgs) {
    {
        std::lock_guard lock(impl_->mu);
        if (impl_->master < 0) {
            return;
        }
        impl_->QueueAnswer(impl_->lastCounter, keywordAndArgs, 0);
    }
    impl_->Wake();
}

void ReaderSim::hangUp() {
    std::unique_lock lock(impl_->mu);
    if (impl_->isHungUp) {
        return;
    }
    impl_->hangUpRequested = true;
    impl_->Wake();
    impl_->cv.wait(lock, [&] { return impl_->isHungUp; });
}

bool ReaderSim::hungUp() const {
    std::lock_guard lock(impl_->mu);
    return impl_->isHungUp;
}

void ReaderSim::startFlood() {
    {
        std::lock_guard lock(impl_->mu);
        impl_->flooding = impl_->master >= 0;
    }
    impl_->Wake();
}

void ReaderSim::stopFlood() {
    {
        std::lock_guard lock(impl_->mu);
        impl_->flooding = false;
    }
    impl_->Wake();
}

bool ReaderSim::inventoryRunning() const {
    std::lock_guard lock(impl_->mu);
    return impl_->running;
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
