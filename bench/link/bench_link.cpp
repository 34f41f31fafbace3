// Figures of the reader link, one per line: "name value unit".
//
//   cutter_bytes_per_s        the answer cutter fed from memory, every frame released at once
//   handover_answers_per_s    answers handed over by the receiver thread through a pty to a
//                             consumer that releases at once (in order, none lost, none twice)
//   handover_errors           answers out of order, lost, doubled or dropped by the ring (0)
//   tcp_handover_answers_per_s  the same through a TCP connection on the loopback
//                             ("tcp://127.0.0.1:PORT"), as from a serial device server
//   tcp_handover_errors       the same count of errors there (0)
//   line_rate_ratio           answer bytes per second handed over / 10472 (the 115200 8N2 line)
//   handover_latency_p99_ms   from an answer written to the pty to the answer-ready event
//   release_to_ready_p99_ms   from the release to the next answer (already in the ring) held
//   silent_cpu_percent        process CPU while one receiver thread sits on a silent line
#include "link/com_a.h"
#include "link/frames.h"
#include "link/serial_port.h"
#include "link/tcp_port.h"
#include "sim/reader_sim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace rd;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kLineBytesPerSecond = 10472.0;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(index, v.size() - 1)];
}

std::string Answer(int i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, ":%08d INV 1 2 3008000000000001 -50;", i);
    return buf;
}

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t k = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (k > 0) {
            done += static_cast<std::size_t>(k);
        } else if (k < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        } else {
            return;
        }
    }
}

void BenchCutter() {
    std::string stream;
    for (int i = 0; i < 20000; ++i)
        stream += Answer(i) + "\r\n";
    uint8_t buf[kMaxAnswerSize + 1];
    int32_t count = 0;
    int32_t mode = 0;
    AnswerCutter cutter(buf, count, mode);
    uint64_t bytes = 0;
    uint64_t frames = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(2)) {
        for (char c : stream) {
            if (cutter.feed(static_cast<uint8_t>(c))) {
                ++frames;
                cutter.release();
            }
        }
        bytes += stream.size();
    }
    const double s = Seconds(Clock::now() - start);
    if (frames == 0)
        std::printf("cutter_frames_missing 1 count\n");
    std::printf("cutter_bytes_per_s %.0f bytes/s\n", static_cast<double>(bytes) / s);
}

// A pty pair in raw mode, the slave published as DIR/COM1 and opened through the link.
struct Line {
    sim::TempPortDir dir;
    int master = -1;
    int slave = -1;
    PortHandle h = INVALID_PORT_HANDLE;

    Line() {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios tio{};
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
        const std::string link = dir.path() + "/COM1";
        if (::symlink(::ttyname(slave), link.c_str()) != 0)
            return;
        SetPortDirectory(dir.path());
        PortError why;
        h = OpenPort("COM1", why);
        SetCommState(h, {115200, 8, 'N', StopBits::Two});
    }
    ~Line() {
        ClosePort(h);
        ::close(master);
        ::close(slave);
    }
};

// A TCP connection on the loopback opened through the link; the server's end is `master`.
struct TcpLine {
    int master = -1;
    PortHandle h = INVALID_PORT_HANDLE;

    TcpLine() {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            if (listener >= 0)
                ::close(listener);
            return;
        }
        PortError why;
        h = OpenPort(TcpPortName("127.0.0.1", ntohs(addr.sin_port)), why);
        master = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
        if (master < 0) {
            ClosePort(h);
            h = INVALID_PORT_HANDLE;
        }
    }
    ~TcpLine() {
        ClosePort(h);
        if (master >= 0)
            ::close(master);
    }
};

std::string Take(TCOM_A& t, bool& ok) {
    const std::optional<std::string> a = t.take(3000);
    ok = a.has_value();
    t.release();
    return a.value_or(std::string());
}

// prefix: "" for the pty, "tcp_" for the TCP connection.
template <class L> void BenchHandover(const std::string& prefix) {
    L line;
    if (line.h == INVALID_PORT_HANDLE) {
        std::printf("%shandover_setup_failed 1 count\n", prefix.c_str());
        return;
    }
    TCOM_A t(line.h, "COM1");
    std::atomic<int> consumed{0};
    std::atomic<bool> done{false};
    // The writer keeps a bounded number of answers in flight, so that the ring never fills.
    std::thread writer([&] {
        int next = 1;
        while (!done.load()) {
            if (next - consumed.load() > 2000) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            std::string chunk;
            for (int k = 0; k < 50; ++k)
                chunk += Answer(next++) + "\r\n";
            WriteAll(line.master, chunk);
        }
    });
    uint64_t errors = 0;
    uint64_t bytes = 0;
    int expected = 1;
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(3)) {
        bool ok = false;
        const std::string a = Take(t, ok);
        if (!ok) {
            ++errors;
            break;
        }
        if (a != Answer(expected))
            ++errors;
        bytes += a.size();
        ++expected;
        consumed.store(expected - 1);
    }
    const double s = Seconds(Clock::now() - start);
    done.store(true);
    writer.join();
    errors += t.droppedBytes();
    std::printf("%shandover_answers_per_s %.0f answers/s\n", prefix.c_str(), (expected - 1) / s);
    std::printf("%shandover_errors %llu count\n", prefix.c_str(), static_cast<unsigned long long>(errors));
    if (prefix.empty())
        std::printf("line_rate_ratio %.1f ratio\n", static_cast<double>(bytes) / s / kLineBytesPerSecond);
}

void BenchLatency() {
    Line line;
    if (line.h == INVALID_PORT_HANDLE) {
        std::printf("latency_setup_failed 1 count\n");
        return;
    }
    TCOM_A t(line.h, "COM1");
    std::vector<double> arrive;
    std::vector<double> release;
    bool ok = true;
    for (int i = 0; i < 1000 && ok; ++i) {
        // One answer at a time on a quiet line: from the write to the ready event.
        const std::string a = Answer(i) + "\r\n";
        const auto t0 = Clock::now();
        WriteAll(line.master, a);
        ok = t.take(3000).has_value();
        arrive.push_back(Seconds(Clock::now() - t0) * 1000.0);
        Take(t, ok);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < 500 && ok; ++i) {
        // Two answers in one write: the second waits in the ring until the first is released.
        WriteAll(line.master, Answer(2 * i) + Answer(2 * i + 1));
        ok = t.take(3000).has_value();
        const auto t0 = Clock::now();
        t.release();
        ok = ok && t.take(3000).has_value();
        release.push_back(Seconds(Clock::now() - t0) * 1000.0);
        Take(t, ok);
    }
    if (!ok)
        std::printf("latency_answer_missing 1 count\n");
    std::printf("handover_latency_p99_ms %.3f ms\n", Percentile(arrive, 0.99));
    std::printf("handover_latency_p50_ms %.3f ms\n", Percentile(arrive, 0.50));
    std::printf("release_to_ready_p99_ms %.3f ms\n", Percentile(release, 0.99));
}

void BenchSilent() {
    Line line;
    if (line.h == INVALID_PORT_HANDLE)
        return;
    TCOM_A t(line.h, "COM1");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rusage r0{}, r1{};
    ::getrusage(RUSAGE_SELF, &r0);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ::getrusage(RUSAGE_SELF, &r1);
    const double wall = Seconds(Clock::now() - start);
    auto cpu = [](const rusage& r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    std::printf("silent_cpu_percent %.2f percent\n", (cpu(r1) - cpu(r0)) / wall * 100.0);
}

} // namespace

int main() {
    BenchCutter();
    BenchHandover<Line>("");
    BenchHandover<TcpLine>("tcp_");
    BenchLatency();
    BenchSilent();
    return 0;
}
