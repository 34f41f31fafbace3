// The readerdesk-sim program: options, the line it prints, a reader on the published port
// and a clean end on SIGTERM.
#include "pty_client.h"
#include "sim/reader_sim.h"
#include "tcp_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rd::sim {
namespace {

using testing::FramesIn;
using testing::PtyClient;
using testing::RequestFrame;
using testing::TcpClient;

// readerdesk-sim started with the given arguments, its standard output on a pipe.
class SimProcess {
  public:
    // errorsToo: standard error goes to the same pipe (else to /dev/null).
    explicit SimProcess(const std::vector<std::string>& args, bool errorsToo = false) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            if (errorsToo) {
                ::dup2(out[1], 2);
            } else {
                int devnull = ::open("/dev/null", O_WRONLY);
                ::dup2(devnull, 2);
            }
            std::vector<char*> argv;
            std::string exe = READERDESK_SIM_EXE;
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    // Standard output up to the first line end, or up to the end of output.
    std::string ReadLine(int timeoutMs = 3000) {
        std::string line;
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) {
                return line;
            }
            char c;
            if (::read(out_, &c, 1) != 1 || c == '\n') {
                return line;
            }
            line += c;
        }
    }
    // Standard output up to its end.
    std::string ReadAll() {
        std::string all;
        char buf[1024];
        ssize_t n;
        while ((n = ::read(out_, buf, sizeof buf)) > 0) {
            all.append(buf, static_cast<size_t>(n));
        }
        return all;
    }

    void Signal(int sig) { ::kill(pid_, sig); }
    // The exit code, or -1 when it did not exit normally.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool waited_ = false;
};

TEST(SimProgram, RunsAReaderOnThePublishedPortUntilSigterm) {
    TempPortDir dir;
    SimProcess sim({"--port-dir", dir.path(), "--com", "5", "--id", "VKR433-SAW", "--no-crlf"});
    const std::string line = sim.ReadLine();
    const std::string port = dir.path() + "/COM5";
    ASSERT_EQ(line.rfind("COM5 VKR433-SAW /dev/", 0), 0u) << line;
    EXPECT_NE(line.find(port), std::string::npos) << line;
    {
        PtyClient client(port);
        ASSERT_TRUE(client.ok());
        client.Write(RequestFrame(2, "VERSION"));
        EXPECT_EQ(client.ReadFrames(1), ":00000002 VERSION VKR433-SAW;");
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(port)));
}

TEST(SimProgram, ServesTheReaderOnTcpWithoutAPortDirectory) {
    SimProcess sim({"--tcp", "0", "--id", "WG"});
    const std::string line = sim.ReadLine();
    const std::string prefix = " tcp://127.0.0.1:";
    const auto at = line.find(prefix);
    ASSERT_EQ(line.rfind("COM3 WG /dev/", 0), 0u) << line;
    ASSERT_NE(at, std::string::npos) << line;
    {
        TcpClient client(static_cast<uint16_t>(std::stoi(line.substr(at + prefix.size()))));
        ASSERT_TRUE(client.ok());
        client.Write(RequestFrame(4, "VERSION"));
        EXPECT_EQ(client.ReadFrames(1), ":00000004 VERSION WG;\r\n");
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

// --tag-margins alone makes as many tags, each read up to its margin.
TEST(SimProgram, TagMarginsSetTheTagsAndTheirMargins) {
    TempPortDir dir;
    SimProcess sim({"--port-dir", dir.path(), "--com", "1", "--no-crlf", "--tag-margins", "4,9,6,7,2"});
    ASSERT_FALSE(sim.ReadLine().empty());
    {
        PtyClient client(dir.path() + "/COM1");
        ASSERT_TRUE(client.ok());
        client.Write(RequestFrame(1, "SET_ATT_OUT 5"));
        EXPECT_EQ(client.ReadFrames(1), ":00000001 OK;");
        client.Write(RequestFrame(2, "KELM_EPC_INVENTORY_TIME 20 5 15"));
        const auto frames = FramesIn(client.ReadFrames(4));
        ASSERT_EQ(frames.size(), 4u);
        EXPECT_EQ(frames[0], ":00000002 START_INVENTORY;");
        EXPECT_NE(frames[1].find(" 3008000000000002 "), std::string::npos) << frames[1];
        EXPECT_NE(frames[2].find(" 3008000000000003 "), std::string::npos) << frames[2];
        EXPECT_NE(frames[3].find(" 3008000000000004 "), std::string::npos) << frames[3];
        EXPECT_EQ(FramesIn(client.ReadFrames(1)).at(0), ":00000002 START_INVENTORY;");
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProgram, FloodFromTheStart) {
    // The tag's second read: the same text, or with --vary-signal a strength moved by 1.
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, ":00000000 INV 1 0800 ABCD -50;"},
        {{"--vary-signal"}, ":00000000 INV 1 0800 ABCD -49;"},
    };
    for (const auto& [extra, secondRead] : cases) {
        SCOPED_TRACE(secondRead);
        TempPortDir dir;
        std::vector<std::string> args = {"--port-dir", dir.path(), "--com", "1", "--flood", "--epc", "ABCD"};
        args.insert(args.end(), extra.begin(), extra.end());
        SimProcess sim(args);
        ASSERT_FALSE(sim.ReadLine().empty());
        PtyClient client(dir.path() + "/COM1");
        ASSERT_TRUE(client.ok());
        auto frames = FramesIn(client.ReadFrames(100));
        ASSERT_GE(frames.size(), 100u);
        EXPECT_EQ(frames[1], ":00000000 INV 1 0800 ABCD -50;");
        EXPECT_EQ(frames[3], secondRead);
        sim.Signal(SIGINT);
        EXPECT_EQ(sim.Wait(), 0);
    }
}

TEST(SimProgram, ServesSeveralReadersEachOnItsOwnPort) {
    TempPortDir dir;
    // A list and a repeated option together.
    SimProcess sim({"--port-dir", dir.path(), "--com", "3,4", "--com", "7", "--no-crlf"});
    for (const char* com : {"COM3", "COM4", "COM7"}) {
        const std::string line = sim.ReadLine();
        EXPECT_EQ(line.rfind(std::string(com) + " VKR900-15 /dev/", 0), 0u) << line;
    }
    for (const char* com : {"COM3", "COM4", "COM7"}) {
        PtyClient client(dir.path() + "/" + com);
        ASSERT_TRUE(client.ok()) << com;
        client.Write(RequestFrame(9, "VERSION"));
        EXPECT_EQ(client.ReadFrames(1), ":00000009 VERSION VKR900-15;") << com;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    for (const char* com : {"COM3", "COM4", "COM7"})
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.path() + "/" + com))) << com;
}

// A short session recorded by the window: the probe's reply and a command with two answers.
TEST(SimProgram, ReplaysARecordingAndRefusesADamagedOneByLine) {
    TempPortDir dir;
    const std::string good = dir.path() + "/good.log";
    const std::string bad = dir.path() + "/bad.log";
    {
        std::ofstream(good)
            << "2026-12-10 10:00:00.100 << 00 3A 31 20 56 45 52 53 49 4F 4E 20 57 47 3B 0D 0A\n"
               "2026-12-10 10:00:01.000 >> 01 3A 32 20 47 4F 3B\n" // :2 GO;
               "2026-12-10 10:00:01.010 << 00 3A 32 20 4F 4E 45 3B\n"
               "2026-12-10 10:00:09.000 << 00 3A 32 20 54 57 4F 3B\n";
        std::ofstream(bad) << "2026-12-10 10:00:00.100 Port COM1 check..\n"
                              "2026-12-10 10:00:01.000 << 00 3A 32 20 4F 4E 45\n"
                              "2026-12-10 10:00:01.010 << 00 3A 32 20 4F 4Z 3B\n";
    }
    {
        SimProcess sim({"--port-dir", dir.path(), "--replay", good, "--speed", "0"});
        const std::string line = sim.ReadLine();
        ASSERT_EQ(line.rfind("COM3 WG /dev/", 0), 0u) << line;
        PtyClient client(dir.path() + "/COM3");
        ASSERT_TRUE(client.ok());
        client.Write(RequestFrame(7, "VERSION"));
        EXPECT_EQ(FramesIn(client.ReadFrames(1)), std::vector<std::string>{":00000007 VERSION WG;"});
        client.Write(RequestFrame(8, "GO"));
        EXPECT_EQ(FramesIn(client.ReadFrames(2)),
                  (std::vector<std::string>{":00000008 ONE;", ":00000008 TWO;"}));
        sim.Signal(SIGTERM);
        EXPECT_EQ(sim.Wait(), 0);
    }
    SimProcess damaged({"--replay", bad}, true);
    EXPECT_EQ(damaged.ReadAll(),
              "readerdesk-sim: " + bad +
                  ": line 3: an answer whose bytes are not hexadecimal (\"<< 00 3A 32 20 4F 4Z "
                  "3B\")\n");
    EXPECT_EQ(damaged.Wait(), 1);
}

struct ArgsCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* inOutput; // "" when standard output stays empty
};

class SimProgramArgs : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(SimProgramArgs, ExitCodeAndOutput) {
    const ArgsCase& c = GetParam();
    SimProcess sim(c.args);
    const std::string out = sim.ReadAll();
    EXPECT_EQ(sim.Wait(), c.exitCode);
    if (*c.inOutput == '\0') {
        EXPECT_TRUE(out.empty()) << out;
    } else {
        EXPECT_NE(out.find(c.inOutput), std::string::npos) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimProgramArgs,
    ::testing::Values(ArgsCase{"Help", {"--help"}, 0, "--port-dir DIR"},
                      ArgsCase{"UnknownOption", {"--colour"}, 2, ""},
                      ArgsCase{"MissingValue", {"--com"}, 2, ""},
                      ArgsCase{"RepeatedCom", {"--com", "3,4", "--com", "3"}, 2, ""},
                      ArgsCase{"BadComInList", {"--com", "3,,4"}, 2, ""},
                      ArgsCase{"SharedTcpPort", {"--com", "3,4", "--tcp", "5000"}, 2, ""},
                      ArgsCase{"NotANumber", {"--reply-delay", "5x"}, 2, ""},
                      ArgsCase{"TagsAndEpcs", {"--tags", "2", "--epc", "AB"}, 2, ""},
                      ArgsCase{"TcpPortOutOfRange", {"--tcp", "65536"}, 2, ""},
                      ArgsCase{"NegativeSpeed", {"--speed", "-1"}, 2, ""},
                      ArgsCase{"NoRecording", {"--replay", "/nonexistent/x.log"}, 1, ""},
                      ArgsCase{"MarginNotANumber", {"--tag-margins", "4,x"}, 2, ""},
                      ArgsCase{"MarginMissing", {"--tag-margins", "4,,8"}, 2, ""},
                      ArgsCase{"MarginsForOtherTags", {"--tags", "2", "--tag-margins", "4,8,12"}, 2, ""},
                      ArgsCase{"NoSuchDirectory", {"--port-dir", "/nonexistent/x"}, 1, ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace rd::sim
