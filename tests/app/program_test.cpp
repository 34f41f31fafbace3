// The program itself against a simulated reader: SIGTERM, SIGHUP and SIGINT close the window as
// the user would (the settings written, a normal exit), and a traffic log that cannot be
// written makes the exit code 1.
#include "sim/reader_sim.h"
#include "window_program.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rd::testing {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// The program's wait status, or nullopt when it has not ended within ms (it is killed then).
std::optional<int> waitFor(pid_t pid, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return std::nullopt;
}

struct SignalCase {
    const char* name;
    int signal;
    bool fullLog; // --traffic-log /dev/full
    int exitCode;
};

class ProgramSignals : public ::testing::TestWithParam<SignalCase> {};

TEST_P(ProgramSignals, CloseTheWindowAsTheUserWould) {
    const SignalCase& c = GetParam();
    sim::TempPortDir ports;
    sim::Options o;
    o.portDir = ports.path();
    o.comNumber = 1;
    sim::ReaderSim reader(o);
    QTemporaryDir tmp;
    const std::string log = c.fullLog ? "/dev/full" : tmp.filePath("traffic.log").toStdString();
    const std::string config = tmp.filePath("config").toStdString();
    const pid_t pid =
        StartWindowProgram({"--port-dir", ports.path(), "--scan", "--traffic-log", log}, config);
    ASSERT_GT(pid, 0);
    // Found: the probe answered and (where there is a log) the verdict written.
    const bool found = reader.waitForRequests(1, 15000);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!c.fullLog && Slurp(log).find("VKR900-15 found COM1") == std::string::npos &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, c.signal);
    const std::optional<int> status = waitFor(pid, 10000);
    ASSERT_TRUE(found);
    ASSERT_TRUE(status) << "still running 10 s after the signal";
    ASSERT_TRUE(WIFEXITED(*status)) << (WIFSIGNALED(*status) ? "ended by signal " : "status ")
                                    << (WIFSIGNALED(*status) ? WTERMSIG(*status) : *status);
    EXPECT_EQ(WEXITSTATUS(*status), c.exitCode);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(config) + "/ReaderDesk/readerdesk.ini"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramSignals,
    ::testing::Values(SignalCase{"Term", SIGTERM, false, 0}, SignalCase{"Hup", SIGHUP, false, 0},
                      SignalCase{"Int", SIGINT, false, 0}, SignalCase{"TermWithAFullLog", SIGTERM, true, 1}),
    [](const ::testing::TestParamInfo<SignalCase>& i) { return std::string(i.param.name); });

} // namespace
} // namespace rd::testing
