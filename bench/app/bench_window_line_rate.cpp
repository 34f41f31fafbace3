// The window at line rate: a fake reader in a process of its own sends inventory answers
// paced to what a 115200-baud line in 8N2 carries (10,472 bytes a second); the real window,
// shown on the offscreen platform with an inventory run started, takes them for a while.
// Prints the CPU time of the window's process (every thread) over the wall time, in per
// cent of one core, and the same for Debian's picocom and tio (those installed) on the same
// paced stream, for comparison.
//
// The terminal programs and the window are measured one after the other in rounds, each in a
// process of its own; the figures are the medians of the rounds.
//
//   bench_window_line_rate [--seconds N (10)] [--rounds N (3)] [--no-terminals]
//                          [--page OBJECT-NAME (the page in front at start), e.g. TabSheetTAGS]
#include "bench_window_support.h"
#include "link/serial_port.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double kLineBytesPerS = 115200.0 / 11.0; // start bit, 8 data bits, 2 stop bits
constexpr int kTags = 20;

// The answer of tag k, as a 900 MHz reader sends it during a run.
std::string TagAnswer(int k) {
    char buf[96];
    std::snprintf(buf, sizeof buf, ":00000002 INV 1 3000 30080000000%05d -%d;\r\n", k + 1, 50 + 3 * (k % 8));
    return buf;
}

// The fake reader's process: publishes a simulated VKR900-15 as COM1 in dir (it answers the
// probes), says "ready" on toParent, waits for a byte on fromParent, then sends the paced
// answers until fromParent is closed.
[[noreturn]] void RunFeeder(const std::string& dir, int toParent, int fromParent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    rd::sim::Options o = rd::bench::Reader900OnCom1(dir);
    o.tagCount = 1;
    o.cyclePeriodMs = 1000 * 1000; // one cycle at the start of a run; the rest is paced here
    {
        rd::sim::ReaderSim reader(o);
        const char ready = 'r';
        if (write(toParent, &ready, 1) != 1)
            std::_Exit(1);
        char go = 0;
        if (read(fromParent, &go, 1) != 1)
            std::_Exit(0);
        fcntl(fromParent, F_SETFL, O_NONBLOCK);
        const auto start = std::chrono::steady_clock::now();
        double sent = 0;
        int next = 0;
        for (;;) {
            char c;
            const ssize_t n = read(fromParent, &c, 1);
            if (n == 0)
                break;
            const double due =
                kLineBytesPerS *
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::string chunk;
            while (sent + double(chunk.size()) < due) {
                chunk += TagAnswer(next);
                next = (next + 1) % kTags;
            }
            if (!chunk.empty()) {
                sent += double(chunk.size());
                reader.sendRaw(std::move(chunk));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    std::_Exit(0);
}

struct Feeder {
    pid_t pid = -1;
    int go = -1; // the parent's end of the pipe the feeder waits on

    // Starts the feeder's process and waits until its reader is published.
    bool start(const std::string& dir) {
        int up[2];
        int down[2];
        if (pipe(up) != 0 || pipe(down) != 0)
            return false;
        pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            close(up[0]);
            close(down[1]);
            RunFeeder(dir, up[1], down[0]);
        }
        close(up[1]);
        close(down[0]);
        go = down[1];
        char ready = 0;
        const bool ok = read(up[0], &ready, 1) == 1;
        close(up[0]);
        return ok;
    }
    void pace() const {
        const char c = 'g';
        (void)!write(go, &c, 1);
    }
    void stop() {
        if (go >= 0)
            close(go);
        go = -1;
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// utime + stime of a process, in seconds (from /proc/PID/stat).
double CpuSecondsOf(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    char buf[1024] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    const char* p = std::strrchr(buf, ')');
    if (!p)
        return -1;
    unsigned long utime = 0;
    unsigned long stime = 0;
    // Fields after the command: state, then 10 more before utime (field 14) and stime (15).
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

bool Executable(const char* path) {
    return access(path, X_OK) == 0;
}

// The plain terminal programs the window is compared with, as Debian installs them.
struct Terminal {
    const char* name;
    const char* path;
    const char* options; // before the port: 115200 baud, 8N2, no flow control
};
constexpr Terminal kTerminals[] = {
    {"picocom", "/usr/bin/picocom", "-q -b 115200 -d 8 -y n -p 2 -f n"},
    {"tio", "/usr/bin/tio", "-b 115200 -d 8 -p none -s 2 -f none"},
};

const Terminal* TerminalNamed(const std::string& name) {
    for (const Terminal& t : kTerminals)
        if (name == t.name)
            return &t;
    return nullptr;
}

// A terminal program on the feeder's port, on a terminal of its own (script), for seconds;
// its CPU per cent of one core, or a negative value when it cannot be run.
double MeasureTerminal(const Terminal& term, int seconds) {
    if (!Executable(term.path) || !Executable("/usr/bin/script"))
        return -1;
    rd::sim::TempPortDir dir;
    Feeder feeder;
    if (!feeder.start(dir.path()))
        return -1;
    const std::string port = dir.path() + "/COM1";
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        // script gives the program the terminal it insists on; exec replaces script's shell.
        const std::string cmd = std::string("exec ") + term.path + " " + term.options + " " + port;
        execl("/usr/bin/script", "script", "-qfec", cmd.c_str(), "/dev/null", static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    // Let the program open the port and settle, find it under script, then pace.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    pid_t prog = -1;
    {
        const std::string children =
            "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
        FILE* f = std::fopen(children.c_str(), "r");
        if (f) {
            int c = -1;
            if (std::fscanf(f, "%d", &c) == 1)
                prog = c;
            std::fclose(f);
        }
    }
    if (prog <= 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        feeder.stop();
        return -1;
    }
    feeder.pace();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu0 = CpuSecondsOf(prog);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu1 = CpuSecondsOf(prog);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    kill(prog, SIGTERM);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    feeder.stop();
    if (cpu0 < 0 || cpu1 < 0)
        return -1;
    return 100.0 * (cpu1 - cpu0) / wall;
}

// One measurement of the window in this process: its CPU per cent of one core, or a negative
// value when the window could not be measured.
double MeasureWindow(int argc, char** argv, int seconds, const std::string& page) {
    rd::sim::TempPortDir dir;
    Feeder feeder;
    if (!feeder.start(dir.path())) {
        std::fprintf(stderr, "bench_window_line_rate: the fake reader did not start\n");
        return -1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    double percent = -1;
    {
        QApplication app(argc, argv);
        rd::SetPortDirectory(dir.path());
        rd::TFormQUOR w;
        if (!rd::bench::ShowConnected(w, "bench_window_line_rate"))
            return -1;
        // The run is started from the 900 page, as a user does; its answers come paced.
        if (auto* start = w.findChild<QPushButton*>(QStringLiteral("BitBtnEPC_INVENTORY_TIME")))
            start->click();
        // The page in front while the answers come (by default the one in front at start).
        if (!page.empty() && !rd::bench::ShowPage(w, page)) {
            std::fprintf(stderr, "bench_window_line_rate: no page %s\n", page.c_str());
            return -1;
        }
        feeder.pace();
        rd::bench::RunEventsFor(app, 1000);

        const uint64_t before = w.answersRouted();
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer run;
        run.start();
        QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
        app.exec();
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double wall = double(run.nsecsElapsed()) / 1e9;
        const uint64_t routed = w.answersRouted() - before;
        const double expected = kLineBytesPerS / double(TagAnswer(0).size()) * wall;
        if (double(routed) < 0.9 * expected)
            std::fprintf(stderr, "bench_window_line_rate: %llu answers routed, about %.0f sent\n",
                         static_cast<unsigned long long>(routed), expected);
        else
            percent = 100.0 * cpu / wall;
    }
    feeder.stop();
    rd::SetPortDirectory(std::string());
    return percent;
}

// Runs this program again for one measurement ("--only window", "--only picocom", ...) and
// reads the figure it prints; negative when it printed none.
double MeasureInChild(const std::string& what, int seconds, const std::string& page) {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return -1;
    const std::string cmd = "'" + std::string(self, std::size_t(n)) + "' --only " + what + " --seconds " +
                            std::to_string(seconds) + (page.empty() ? "" : " --page " + page);
    FILE* out = popen(cmd.c_str(), "r");
    if (!out)
        return -1;
    double value = -1;
    char line[256];
    while (std::fgets(line, sizeof line, out)) {
        char name[128];
        double v = 0;
        if (std::sscanf(line, "%127s %lf", name, &v) == 2 && std::strstr(name, "_cpu_percent"))
            value = v;
    }
    pclose(out);
    return value;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    int rounds = 3;
    bool terminals = true;
    std::string only;
    std::string page;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--no-terminals"))
            terminals = false;
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = argv[++i];
        else if (!std::strcmp(argv[i], "--page") && i + 1 < argc)
            page = argv[++i];
    }
    if (const Terminal* term = TerminalNamed(only)) {
        const double p = MeasureTerminal(*term, seconds);
        if (p < 0)
            return 1;
        std::printf("%s_line_rate_cpu_percent %.2f %%\n", term->name, p);
        return 0;
    }
    if (only == "window") {
        const double w = MeasureWindow(argc, argv, seconds, page);
        if (w < 0)
            return 1;
        std::printf("window_line_rate_cpu_percent %.2f %%\n", w);
        return 0;
    }
    // Rounds of each terminal program and the window one after the other, each in a fresh
    // process, so that a slow spell of the machine falls on all of them; the medians are the
    // figures.
    std::vector<const Terminal*> compared;
    for (const Terminal& t : terminals ? kTerminals : std::span<const Terminal>()) {
        if (Executable(t.path) && Executable("/usr/bin/script"))
            compared.push_back(&t);
        else
            std::fprintf(stderr, "bench_window_line_rate: no %s (Debian package %s) to compare with\n",
                         t.name, t.name);
    }
    std::vector<std::vector<double>> termFigures(compared.size());
    std::vector<double> window;
    for (int r = 0; r < rounds; ++r) {
        std::string line;
        for (std::size_t k = 0; k < compared.size(); ++k) {
            const double p = MeasureInChild(compared[k]->name, seconds, std::string());
            if (p >= 0)
                termFigures[k].push_back(p);
            char part[64];
            std::snprintf(part, sizeof part, "%s %.2f %%, ", compared[k]->name, p);
            line += part;
        }
        const double w = MeasureInChild("window", seconds, page);
        if (w >= 0)
            window.push_back(w);
        std::fprintf(stderr, "bench_window_line_rate: round %d: %swindow %.2f %%\n", r + 1, line.c_str(), w);
    }
    for (std::size_t k = 0; k < compared.size(); ++k)
        if (!termFigures[k].empty())
            std::printf("%s_line_rate_cpu_percent %.2f %%\n", compared[k]->name, Median(termFigures[k]));
    if (window.size() != std::size_t(rounds)) {
        std::fprintf(stderr, "bench_window_line_rate: the window could not be measured in every round\n");
        return 1;
    }
    std::printf("window_line_rate_cpu_percent %.2f %%\n", Median(window));
    return 0;
}
