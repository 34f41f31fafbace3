// cli_scan_ms: from the start of "readerdesk-cli scan" to its printed result, with a
// simulated reader on COM3 of a port directory (COM1 and COM2 absent). The median of
// several runs.
#include "sim/reader_sim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Milliseconds from the spawn to the first line on standard output; -1 on failure.
double scanMs(const std::string& dir) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::string exe = READERDESK_CLI_EXE;
    std::string scan = "scan", portDir = "--port-dir", d = dir;
    char* argv[] = {exe.data(), scan.data(), portDir.data(), d.data(), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return -1;
    }
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    const auto end = std::chrono::steady_clock::now();
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (line != "COM3 VKR900-15" || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_cli_scan: unexpected result \"%s\"\n", line.c_str());
        return -1;
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace

int main() {
    rd::sim::TempPortDir dir;
    rd::sim::Options o;
    o.portDir = dir.path();
    o.comNumber = 3;
    rd::sim::ReaderSim reader(o);

    constexpr int kRuns = 7;
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        const double t = scanMs(dir.path());
        if (t < 0)
            return 1;
        ms.push_back(t);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("cli_scan_ms %.0f ms\n", ms[kRuns / 2]);
    return 0;
}
