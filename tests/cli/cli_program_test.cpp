// readerdesk-cli as a process against simulated readers on pseudo-terminals of a private
// port directory: what each command prints (its JSON lines parsed), what it sends, and its
// exit codes.
#include "cli_process.h"

#include "sim/reader_sim.h"
#include <QJsonArray>

#include <QJsonArray>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rd::cli {
namespace {

using testing::CliProcess;

QString S(const char* s) {
    return QString::fromLatin1(s);
}

std::string Str(const QJsonObject& o, const char* key) {
    return o.value(S(key)).toString().toStdString();
}

long long Num(const QJsonObject& o, const char* key) {
    return o.value(S(key)).toVariant().toLongLong();
}

class CliTest : public ::testing::Test {
  protected:
    // A simulated reader on COM<com> of the port directory.
    sim::ReaderSim& AddReader(sim::Options o) {
        o.portDir = dir.path();
        readers.push_back(std::make_unique<sim::ReaderSim>(o));
        return *readers.back();
    }
    sim::ReaderSim& AddReader(const std::string& identifier = "VKR900-15", int com = 3) {
        sim::Options o;
        o.identifier = identifier;
        o.comNumber = com;
        return AddReader(o);
    }
    // The program with the port directory in front of args.
    std::unique_ptr<CliProcess> Start(std::vector<std::string> args, bool withTerminal = false) {
        args.insert(args.begin(), {"--port-dir", dir.path()});
        return std::make_unique<CliProcess>(args, home.path(), withTerminal);
    }
    std::unique_ptr<CliProcess> Run(std::vector<std::string> args, int* exitCode) {
        auto p = Start(std::move(args));
        *exitCode = p->Wait();
        return p;
    }
    // The command texts the reader received after the probes.
    static std::vector<std::string> CommandsAfterProbe(const sim::ReaderSim& r) {
        std::vector<std::string> all = r.commands();
        std::vector<std::string> rest;
        for (const std::string& c : all)
            if (c != "VERSION")
                rest.push_back(c);
        return rest;
    }

    sim::TempPortDir dir;
    sim::TempPortDir home;
    std::vector<std::unique_ptr<sim::ReaderSim>> readers;
};

TEST_F(CliTest, PortsListsTheComNamesWithTheirDevices) {
    const sim::ReaderSim& a = AddReader("VKR900-15", 3);
    const sim::ReaderSim& b = AddReader("WG", 5);
    int code = -1;
    auto p = Run({"ports", "--json"}, &code);
    EXPECT_EQ(code, 0) << p->err;
    const auto ports = p->Json("port");
    ASSERT_EQ(ports.size(), 2u) << p->out;
    EXPECT_EQ(Str(ports[0], "port"), "COM3");
    EXPECT_EQ(Str(ports[0], "device"), a.slavePath());
    EXPECT_EQ(Str(ports[1], "port"), "COM5");
    EXPECT_EQ(Str(ports[1], "device"), b.slavePath());
}

// A port this user may not open is listed as the others, and one hint for all of them says
// which group to join; where every port may be opened nothing is said. Run by root, the
// program runs as nobody: permissions do not stop root.
TEST_F(CliTest, PortsSaysOnceHowToGetTheRightToOpenThePorts) {
    const std::vector<const sim::ReaderSim*> sims = {&AddReader("VKR900-15", 3), &AddReader("WG", 5),
                                                     &AddReader("VKR433-16", 7)};
    std::optional<CliProcess::User> user;
    mode_t lockedMode = 0;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        user = CliProcess::User{nobody->pw_uid, nobody->pw_gid};
        lockedMode = 0600; // root's, and nobody is not root
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(home.path().c_str(), 0777), 0);
    }
    struct stat st {};
    ASSERT_EQ(::stat(sims[0]->slavePath().c_str(), &st), 0);
    const group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    const std::string group = g->gr_name;

    struct Case {
        const char* what;
        std::vector<int> locked; // indexes into sims
        std::string ports;       // as the hint names them; empty: no hint
    } cases[] = {
        {"every port open", {}, ""},
        {"one locked", {1}, "COM5"},
        {"two locked", {0, 2}, "COM3, COM7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::size_t i = 0; i < sims.size(); ++i) {
            const bool locked = std::find(c.locked.begin(), c.locked.end(), int(i)) != c.locked.end();
            ASSERT_EQ(::chmod(sims[i]->slavePath().c_str(), locked ? lockedMode : 0666), 0);
        }
        CliProcess p({"--port-dir", dir.path(), "ports"}, home.path(), false, user);
        EXPECT_EQ(p.Wait(), 0) << p.err;
        EXPECT_EQ(p.Lines().size(), sims.size()) << p.out;
        if (c.ports.empty()) {
            EXPECT_EQ(p.err, "");
            continue;
        }
        EXPECT_EQ(p.err, "readerdesk-cli: " + c.ports +
                             ": permission denied; the user needs the group that owns the device (" + group +
                             "): sudo usermod -aG " + group + " \"$USER\", then log in again\n");
    }
}

TEST_F(CliTest, ScanPrintsThePortAndTheIdentifierFound) {
    struct Case {
        const char* simulated;
        int com;
        const char* identifier; // as the window reports it: the first row found in the reply
        const char* kind;
        bool garbage = false; // stray bytes before each answer
    } cases[] = {
        {"VKR900-15", 3, "VKR900-15", "900 MHz"},
        {"VKR900-153", 7, "VKR900-15", "900 MHz"},
        {"VKR433-SAW", 1, "VKR433-SAW", "sensor-tag", true},
        {"WG", 20, "WG", "Wiegand"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.simulated);
        readers.clear();
        sim::Options o;
        o.identifier = c.simulated;
        o.comNumber = c.com;
        o.garbage = c.garbage;
        AddReader(o);
        const std::string port = "COM" + std::to_string(c.com);
        int code = -1;
        auto json = Run({"scan", "--json"}, &code);
        EXPECT_EQ(code, 0) << json->err;
        const auto found = json->Json("reader");
        ASSERT_EQ(found.size(), 1u) << json->out;
        EXPECT_EQ(Str(found[0], "port"), port);
        EXPECT_EQ(Str(found[0], "identifier"), c.identifier);
        EXPECT_EQ(Str(found[0], "kind"), c.kind);
        EXPECT_NE(Str(found[0], "reply").find(std::string("VERSION ") + c.simulated), std::string::npos);
        // The reply's first answer alone, as text: no stray bytes, no line end.
        EXPECT_TRUE(std::regex_match(Str(found[0], "reply"),
                                     std::regex(std::string(R"(:\d{8} VERSION )") + c.simulated + ";")))
            << Str(found[0], "reply");

        auto text = Run({"scan"}, &code);
        EXPECT_EQ(code, 0) << text->err;
        EXPECT_EQ(text->out, port + " " + c.identifier + "\n");
    }
}

TEST_F(CliTest, NoReaderOrNoAnswerEndsWithExitCodeOne) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* identifier; // the simulated reader on COM3 ("" for none)
        bool silent;
        const char* message;
        int requests; // what the reader received in all
    } cases[] = {
        {"no reader at all", {"scan"}, "", false, "correct devices not found", 0},
        {"the port given is not there",
         {"send", "--port", "COM9", "VERSION"},
         "VKR900-15",
         false,
         "COM9: no such port",
         0},
        {"a silent reader", {"send", "SHT_T_RH"}, "VKR900-15", true, "COM3: no reply", 7},
        {"a silent reader, not probed",
         {"send", "--port", "COM3", "--no-probe", "--wait", "300", "SHT_T_RH"},
         "VKR900-15",
         true,
         "no answer within 300 ms",
         1},
        {"an inventory on a sensor-tag reader",
         {"inventory", "--port", "COM3"},
         "VKR433-SAW",
         false,
         "COM3: VKR433-SAW, not a 900 MHz reader",
         5},
        {"sensors on a 900 MHz reader",
         {"sensors"},
         "VKR900-15",
         false,
         "COM3: VKR900-15, not a 433 MHz or sensor-tag reader",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        readers.clear();
        sim::ReaderSim* r = nullptr;
        if (*c.identifier) {
            sim::Options o;
            o.identifier = c.identifier;
            o.silent = c.silent;
            r = &AddReader(o);
        }
        int code = -1;
        auto p = Run(c.args, &code);
        EXPECT_EQ(code, 1) << p->err;
        EXPECT_NE(p->err.find(c.message), std::string::npos) << p->err;
        EXPECT_EQ(p->out, "");
        if (r) {
            EXPECT_EQ(r->requestCount(), std::size_t(c.requests));
        }
    }
}

TEST_F(CliTest, WrongUsageShowsTheUsageWithExitCodeTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"scan", "--frobnicate"},
        {"send"},
        {"send", "--wait"},
        {"send", "--wait", "soon", "VERSION"},
        {"send", "--addr", "256", "VERSION"},
        {"send", "--no-probe", "VERSION"},
        {"scan", "--wait", "100"},
        {"scan", "extra"},
        {"inventory", "--cycles", "0"},
        {"inventory", "--cycles", "3", "--seconds", "1"},
        {"monitor", "--seconds", "-1"},
        {"monitor", "--cycles", "2"},
        {"sensors", "--hex"},
        {"replay"},
        {"replay", "a.log", "b.log"},
        {"sweep", "--steps", "0 2 x"},
        {"sweep", "--cycles", "0"},
        {"inventory", "--steps", "0 2"},
    };
    AddReader();
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        int code = -1;
        auto p = Run(args, &code);
        EXPECT_EQ(code, 2);
        EXPECT_NE(p->err.find("readerdesk-cli: "), std::string::npos) << p->err;
        EXPECT_NE(p->err.find("Usage: readerdesk-cli"), std::string::npos) << p->err;
        EXPECT_EQ(p->out, "");
    }
    // Wrong usage never reaches the reader.
    EXPECT_EQ(readers[0]->requestCount(), 0u);

    int code = -1;
    auto help = Run({"--help"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(help->out.rfind("Usage: readerdesk-cli", 0), 0u) << help->out;
}

// What could never go out, or names what is not there, is refused before any port is opened,
// with the reason; the usage text is for command lines that are wrong in their form.
TEST_F(CliTest, WhatCannotBeSentIsRefusedBeforeThePortIsOpened) {
    const std::string nines(1000, '9');
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"inventory", "--cycles", "1", "--q", nines},
         "the inventory start (--q, --c, --n) is too long: 1029 characters, at most 989"},
        {{"send", std::string(990, 'X')}, "the command is too long: 990 characters, at most 989"},
        {{"send", "SET_NAME", "AB\xFF\xFE"}, "the word AB\\xff\\xfe is not UTF-8 text"},
        {{"send", "X", "\xC3("}, "the word \\xc3( is not UTF-8 text"},
        {{"inventory", "--n", "1\xE9"}, "the word 1\\xe9 is not UTF-8 text"},
        {{"send", "--port", "tcp://127.0.0.1", "VERSION"}, "bad value for --port: tcp://127.0.0.1"},
        {{"send", "--port", "tcp://127.0.0.1:0", "VERSION"}, "bad value for --port: tcp://127.0.0.1:0"},
        {{"scan", "--port", "TCP://:2000"}, "bad value for --port: TCP://:2000"},
        {{"scan", "--port", "tcp://[::1:2000"}, "bad value for --port: tcp://[::1:2000"},
        {{"scan", "--port-dir", dir.path() + "/gone"},
         "readerdesk-cli: the port folder " + dir.path() + "/gone: No such file or directory"},
    };
    AddReader();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        int code = -1;
        auto p = Run(c.args, &code);
        EXPECT_EQ(code, 2);
        EXPECT_NE(p->err.find(c.message), std::string::npos) << p->err;
        EXPECT_EQ(p->out, "");
    }
    EXPECT_EQ(readers[0]->requestCount(), 0u);
    // A word in UTF-8 is sent as the characters it spells.
    int code = -1;
    auto p = Run({"send", "SET_NAME", "Gr\xC3\xBC\xC3\x9F"}, &code);
    EXPECT_EQ(code, 0) << p->err;
    EXPECT_EQ(readers[0]->commands().back(), "SET_NAME Gr\xFC\xDF");
}

TEST_F(CliTest, SendPrintsEveryAnswerWithinTheWait) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int replyDelayMs;
        int exitCode;
        const char* sent;      // the command text the reader received
        uint8_t address;       // its net address byte
        const char* answerEnd; // how the printed answer ends ("" for none)
    } cases[] = {
        {"the words joined by single blanks",
         {"send", "--json", "SET_ATT_OUT", "10"},
         0,
         0,
         "SET_ATT_OUT 10",
         1,
         " OK;"},
        {"an empty last word leaves its blank",
         {"send", "--json", "KELM_RD_DATA_EPC", ""},
         0,
         0,
         "KELM_RD_DATA_EPC ",
         1,
         " OK;"},
        {"to the address given",
         {"send", "--json", "--addr", "5", "VERSION"},
         0,
         0,
         "VERSION",
         5,
         " VERSION VKR900-15;"},
        {"a word that looks like an option", {"send", "--json", "--", "--X"}, 0, 0, "--X", 1, " OK;"},
        {"an answer after the wait is not waited for",
         {"send", "--json", "--wait", "50", "VERSION"},
         250,
         1,
         "VERSION",
         1,
         ""},
        {"an answer within the wait",
         {"send", "--json", "--wait", "1500", "VERSION"},
         250,
         0,
         "VERSION",
         1,
         " VERSION VKR900-15;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        readers.clear();
        sim::Options o;
        o.replyDelayMs = c.replyDelayMs;
        sim::ReaderSim& r = AddReader(o);
        int code = -1;
        auto p = Run(c.args, &code);
        EXPECT_EQ(code, c.exitCode) << p->err;
        const auto requests = r.requests();
        ASSERT_GE(requests.size(), 2u);
        EXPECT_EQ(r.commands().back(), c.sent);
        EXPECT_EQ(requests.back()[0], c.address);
        EXPECT_EQ(requests.front()[0], 1) << "the probe goes to address 1";
        const auto answers = p->Json("answer");
        if (*c.answerEnd == 0) {
            EXPECT_TRUE(answers.empty()) << p->out;
            continue;
        }
        ASSERT_EQ(answers.size(), 1u) << p->out;
        const std::string text = Str(answers[0], "text");
        EXPECT_EQ(text.rfind(":0000000", 0), 0u) << text;
        EXPECT_EQ(text.substr(text.size() - std::string(c.answerEnd).size()), c.answerEnd) << text;
    }
}

TEST_F(CliTest, TrafficLogHoldsRequestsAnswersAndDiscoveryWithTheirTimes) {
    AddReader();
    const std::string log = home.path() + "/traffic.log";
    int code = -1;
    auto p = Run({"send", "--traffic-log", log, "VERSION"}, &code);
    EXPECT_EQ(code, 0) << p->err;
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const QRegularExpression stamp(S("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    int requests = 0, answers = 0;
    bool found = false;
    for (const std::string& line : lines) {
        EXPECT_TRUE(stamp.match(QString::fromStdString(line)).hasMatch()) << line;
        requests += line.find(" >> 01 3A ") != std::string::npos;
        answers += line.find(" << 00 3A ") != std::string::npos;
        found = found || line.find(" VKR900-15 found COM3: baud=115200") != std::string::npos;
    }
    EXPECT_EQ(requests, 2) << "the probe and the command";
    EXPECT_EQ(answers, 2) << "the probe's reply and the answer";
    EXPECT_TRUE(found);
}

// A session recorded by the traffic log or by monitor is counted again, without a reader, as
// the inventory counted it; a damaged recording is refused with its line.
TEST_F(CliTest, ReplayCountsARecordedSessionAsTheInventoryDid) {
    sim::Options o;
    o.varySignal = true;
    sim::ReaderSim& r = AddReader(o);
    const std::string log = home.path() + "/inventory.log";
    int code = -1;
    auto inventory = Run({"inventory", "--json", "--cycles", "6", "--traffic-log", log}, &code);
    ASSERT_EQ(code, 0) << inventory->err;
    auto replay = Run({"replay", "--json", log}, &code);
    EXPECT_EQ(code, 0) << replay->err;
    EXPECT_EQ(replay->Json("tag"), inventory->Json("tag"));
    const auto summary = replay->Json("summary");
    ASSERT_EQ(summary.size(), 1u) << replay->out;
    for (const char* key : {"tags", "reads", "cycles", "stop"})
        EXPECT_EQ(summary[0].value(S(key)), inventory->Json("summary")[0].value(S(key))) << key;

    // What monitor printed, standard error beside it.
    auto monitor = Start({"monitor", "--seconds", "1.5"});
    ASSERT_TRUE(monitor->WaitForStderr("found COM3"));
    for (const char* a : {"START_INVENTORY", "INV 1 3000 E1 -40", "INV 2 3000 E2\\ -41", "INV 1 3000 E1 -44"})
        r.sendAnswer(a);
    EXPECT_EQ(monitor->Wait(), 0) << monitor->err;
    const std::string monitored = home.path() + "/monitor.txt";
    std::ofstream(monitored) << monitor->err << monitor->out;
    replay = Run({"replay", monitored}, &code);
    EXPECT_EQ(code, 0) << replay->err;
    ASSERT_EQ(replay->Lines().size(), 3u) << replay->out;
    EXPECT_EQ(replay->Lines()[0], "EPC E1  reads 2  antenna 1  signal -44");
    EXPECT_EQ(replay->Lines()[1], "EPC E2\\\\  reads 1  antenna 2  signal -41");
    EXPECT_EQ(replay->Lines()[2].rfind("tags 2  reads 3  cycles 1  seconds ", 0), 0u) << replay->Lines()[2];

    const std::string damaged = home.path() + "/damaged.log";
    std::ofstream(damaged) << "12:00:00.000 :1 START_INVENTORY;\n12:00:00.001 :1 INV \\q;\n";
    replay = Run({"replay", damaged}, &code);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(replay->err, "readerdesk-cli: " + damaged +
                               ": line 2: neither an answer (':' ... ';') nor its bytes in hexadecimal "
                               "(\":1 INV \\q;\")\n");
    EXPECT_EQ(replay->out, "");
}

// A traffic log that cannot be written ends the run before the reader is asked anything, with
// the system's reason.
TEST_F(CliTest, TrafficLogThatCannotBeWrittenSaysWhy) {
    AddReader();
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {home.path() + "/no-such-folder/traffic.log", "No such file or directory"},
        {home.path(), "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        int code = -1;
        auto p = Run({"send", "--traffic-log", c.path, "VERSION"}, &code);
        EXPECT_EQ(code, 2);
        EXPECT_NE(p->err.find("readerdesk-cli: cannot write the traffic log " + c.path + ": " + c.reason),
                  std::string::npos)
            << p->err;
        EXPECT_EQ(p->out, "");
    }
    EXPECT_EQ(readers[0]->requestCount(), 0u);
}

// A traffic log that opens but cannot be written (a full disk): the run goes on, is told of it
// once, and does not end as a success.
TEST_F(CliTest, TrafficLogThatFailsWhileWrittenIsToldAndEndsWithExitCodeOne) {
    AddReader();
    int code = -1;
    auto p = Run({"send", "--json", "--traffic-log", "/dev/full", "VERSION"}, &code);
    EXPECT_EQ(code, 1) << p->err;
    const std::string told =
        "readerdesk-cli: cannot write the traffic log /dev/full: No space left on device";
    const auto at = p->err.find(told);
    EXPECT_NE(at, std::string::npos) << p->err;
    EXPECT_EQ(p->err.find(told, at + 1), std::string::npos) << "told once: " << p->err;
    EXPECT_EQ(p->Json("answer").size(), 1u) << p->out;
}

// A server on the loopback that answers the probe as a reader would and then resets the
// connection: the command written after it cannot go out.
class ResettingServer {
  public:
    ResettingServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                return;
            const int c = ::accept(listener_, nullptr, nullptr);
            if (c < 0)
                return;
            char buf[256];
            std::string got;
            while (got.find(';') == std::string::npos) {
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                got.append(buf, std::size_t(n));
            }
            const std::string answer = ":00000001 VERSION VKR900-15;\r\n";
            ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
            const linger hard{1, 0};
            ::setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(c);
        });
    }
    ~ResettingServer() {
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
    std::string name() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

  private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

TEST_F(CliTest, AWriteThatFailsIsToldAndEndsWithExitCodeOne) {
    ResettingServer server;
    int code = -1;
    auto p = Run({"send", "--port", server.name(), "GET_ADC"}, &code);
    EXPECT_EQ(code, 1) << p->err;
    EXPECT_NE(p->err.find(server.name() + ": write failed: "), std::string::npos) << p->err;
    EXPECT_EQ(p->out, "");
}

TEST_F(CliTest, AnInventoryWhoseConnectionIsLostSaysTheReaderMayStillRun) {
    sim::Options o;
    o.identifier = "VKR900-15";
    o.comNumber = 3;
    // The probe and the start are answered, then the adapter is pulled out.
    o.hangUpAfterRequests = 2;
    AddReader(o);
    int code = -1;
    auto p = Run({"inventory", "--port", "COM3", "--seconds", "10"}, &code);
    EXPECT_EQ(code, 1) << p->err;
    EXPECT_NE(p->err.find("COM3: connection lost"), std::string::npos) << p->err;
    EXPECT_NE(p->err.find("no EPC_STOP could be sent: the reader may still be running the inventory"),
              std::string::npos)
        << p->err;
}

TEST_F(CliTest, InventoryCountsEachTagOnceWithItsReads) {
    struct Case {
        std::vector<std::string> args;
        const char* start;
    } cases[] = {
        {{"inventory", "--json", "--cycles", "5"}, "KELM_EPC_INVENTORY_TIME 20 5 15"},
        {{"inventory", "--json", "--seconds", "0.4", "--q", "7", "--c", "3", "--n", "100"},
         "KELM_EPC_INVENTORY_TIME 7 3 100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        readers.clear();
        sim::ReaderSim& r = AddReader();
        int code = -1;
        auto p = Run(c.args, &code);
        EXPECT_EQ(code, 0) << p->err;
        EXPECT_EQ(CommandsAfterProbe(r), (std::vector<std::string>{c.start, "EPC_STOP"}));
        EXPECT_FALSE(r.inventoryRunning());

        // Every tag answer the reader sent, counted under its EPC.
        int sentReads = 0;
        for (const std::string& a : r.answers())
            sentReads += a.find(" INV ") != std::string::npos;
        const auto tags = p->Json("tag");
        ASSERT_EQ(tags.size(), 3u) << p->out;
        long long reads = 0;
        const char* strengths[] = {"-50", "-53", "-56"};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Str(tags[i], "epc"), "300800000000000" + std::to_string(i + 1));
            EXPECT_EQ(Str(tags[i], "antenna"), "1");
            EXPECT_EQ(Str(tags[i], "signal"), strengths[i]);
            reads += Num(tags[i], "reads");
        }
        const auto summary = p->Json("summary");
        ASSERT_EQ(summary.size(), 1u) << p->out;
        EXPECT_EQ(Num(summary[0], "tags"), 3);
        EXPECT_EQ(Num(summary[0], "reads"), sentReads);
        EXPECT_EQ(reads, sentReads);
        EXPECT_GE(Num(summary[0], "cycles"), c.args[2] == "--cycles" ? 5 : 2);
        EXPECT_EQ(Num(summary[0], "cycles") * 3, sentReads);
        EXPECT_GT(summary[0].value(S("reads_per_s")).toDouble(), 0.0);
        EXPECT_EQ(Str(summary[0], "stop"), "confirmed");
        EXPECT_EQ(summary[0].value(S("lost_bytes")).toInt(-1), 0);
    }
}

// A reader whose tags are read up to 4, 8 and 12 dB: the sweep finds each margin exactly,
// each step an attenuation, whole cycles and a confirmed stop before the next.
TEST_F(CliTest, SweepFindsEachTagsMarginExactly) {
    sim::Options o;
    o.tagMargins = {4, 8, 12};
    o.cyclePeriodMs = 10;
    sim::ReaderSim& r = AddReader(o);
    int code = -1;
    auto p = Run({"sweep", "--json", "--cycles", "3", "--q", "7"}, &code);
    EXPECT_EQ(code, 0) << p->err;
    EXPECT_FALSE(r.inventoryRunning());
    std::vector<std::string> expected;
    for (int dB = 0; dB <= 20; dB += 2)
        expected.insert(expected.end(),
                        {"SET_ATT_OUT " + std::to_string(dB), "KELM_EPC_INVENTORY_TIME 7 5 15", "EPC_STOP"});
    EXPECT_EQ(CommandsAfterProbe(r), expected);
    EXPECT_NE(p->err.find("step 6 of 11, 10 dB"), std::string::npos) << p->err;

    const auto steps = p->Json("step");
    ASSERT_EQ(steps.size(), 11u) << p->out;
    const int seen[] = {3, 3, 3, 2, 2, 1, 1, 0, 0, 0, 0};
    for (int s = 0; s < 11; ++s) {
        EXPECT_EQ(Num(steps[std::size_t(s)], "attenuation_db"), 2 * s);
        EXPECT_EQ(Num(steps[std::size_t(s)], "tags"), seen[s]) << s;
        EXPECT_EQ(Num(steps[std::size_t(s)], "reads"), 3 * seen[s]) << s;
    }
    const auto tags = p->Json("tag");
    ASSERT_EQ(tags.size(), 3u) << p->out;
    for (int t = 0; t < 3; ++t) {
        const int margin = 4 * (t + 1);
        EXPECT_EQ(Str(tags[std::size_t(t)], "epc"), "300800000000000" + std::to_string(t + 1));
        EXPECT_EQ(Num(tags[std::size_t(t)], "margin_db"), margin);
        const QJsonArray reads = tags[std::size_t(t)].value(S("reads")).toArray();
        ASSERT_EQ(reads.size(), 11);
        for (int s = 0; s < 11; ++s)
            EXPECT_EQ(reads[s].toInt(), 2 * s <= margin ? 3 : 0) << t << " " << s;
    }

    // As a table, over steps of its own; bad steps or cycles name their option.
    readers.clear();
    AddReader(o);
    p = Run({"sweep", "--steps", "9,0  5 13", "--cycles", "2"}, &code);
    EXPECT_EQ(code, 0) << p->err;
    // In the order first read: the third tag alone at 9 dB.
    EXPECT_EQ(p->out, "EPC                9 dB   0 dB   5 dB  13 dB  margin dB\n"
                      "3008000000000003      2      2      2      0          9\n"
                      "3008000000000001      0      2      0      0          0\n"
                      "3008000000000002      0      2      2      0          5\n"
                      "tags seen             1      3      2      0\n"
                      "reads                 2      6      4      0\n");
    for (const auto& [args, message] : {std::pair{std::vector<std::string>{"sweep", "--steps", "0 2 x"},
                                                  "bad value for --steps: 'x' is not a whole number of dB"},
                                        {{"sweep", "--cycles", "0"}, "bad value for --cycles: 0"}}) {
        p = Run(args, &code);
        EXPECT_EQ(code, 2);
        EXPECT_NE(p->err.find(message), std::string::npos) << p->err;
    }
}

TEST_F(CliTest, TheStopIsRepeatedUntilConfirmedAndGivenUpAfterThreeSeconds) {
    struct Case {
        const char* what;
        int stopConfirmAfter;
        bool confirmStop;
        int exitCode;
        int minStops, maxStops;
        const char* stop;
    } cases[] = {
        {"confirmed at the third", 3, true, 0, 3, 3, "confirmed"},
        {"never confirmed", 1, false, 1, 10, 31, "not confirmed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        readers.clear();
        sim::Options o;
        o.stopConfirmAfter = c.stopConfirmAfter;
        o.confirmStop = c.confirmStop;
        sim::ReaderSim& r = AddReader(o);
        int code = -1;
        auto p = Run({"inventory", "--json", "--cycles", "2"}, &code);
        EXPECT_EQ(code, c.exitCode) << p->err;
        int stops = 0;
        for (const std::string& cmd : r.commands())
            stops += cmd == "EPC_STOP";
        EXPECT_GE(stops, c.minStops);
        EXPECT_LE(stops, c.maxStops);
        const auto summary = p->Json("summary");
        ASSERT_EQ(summary.size(), 1u) << p->out;
        EXPECT_EQ(Str(summary[0], "stop"), c.stop);
        // The rate is over the run (two cycles, well under a second), up to the first
        // EPC_STOP: the wait for its confirmation is no part of it.
        const double seconds = summary[0].value(S("seconds")).toDouble();
        EXPECT_LT(seconds, 1.0);
        EXPECT_GE(summary[0].value(S("reads_per_s")).toDouble(), double(Num(summary[0], "reads")) / 1.0);
        if (!c.confirmStop) {
            EXPECT_NE(p->err.find("EPC_STOP not confirmed after 3 s; stop abandoned"), std::string::npos)
                << p->err;
            EXPECT_GT(p->elapsedMs, 3000);
            EXPECT_LT(p->elapsedMs, 8000);
        }
    }
}

TEST_F(CliTest, CtrlCStopsARunningInventoryWithEpcStop) {
    enum How { TypedCtrlC, Term, HangUp, TerminalClosed };
    const struct {
        How how;
        const char* what;
    } cases[] = {
        {TypedCtrlC, "^C typed on the terminal"},
        {Term, "SIGTERM"},
        {HangUp, "SIGHUP"},
        {TerminalClosed, "its terminal closed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        readers.clear();
        sim::ReaderSim& r = AddReader();
        auto p = Start({"inventory", "--json"}, c.how == TypedCtrlC || c.how == TerminalClosed);
        // A few cycles into the run.
        ASSERT_TRUE(r.waitForAnswersSent(1 + 4 * 4, 10000));
        switch (c.how) {
        case TypedCtrlC:
            p->TypeCtrlC();
            break;
        case Term:
            p->Signal(SIGTERM);
            break;
        case HangUp:
            p->Signal(SIGHUP);
            break;
        case TerminalClosed:
            p->CloseTerminal();
            break;
        }
        EXPECT_EQ(p->Wait(), 0) << p->err;
        const auto commands = CommandsAfterProbe(r);
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.front(), "KELM_EPC_INVENTORY_TIME 20 5 15");
        EXPECT_EQ(commands.back(), "EPC_STOP");
        EXPECT_FALSE(r.inventoryRunning());
        const auto summary = p->Json("summary");
        ASSERT_EQ(summary.size(), 1u) << p->out;
        EXPECT_EQ(Num(summary[0], "tags"), 3);
        EXPECT_EQ(Str(summary[0], "stop"), "confirmed");
    }
}

TEST_F(CliTest, AReaderThatAnswersLateIsNamedWithItsLateness) {
    sim::Options o;
    o.replyDelayMs = 600;
    sim::ReaderSim& r = AddReader(o);
    int code = -1;
    auto p = Run({"scan"}, &code);
    EXPECT_EQ(code, 1) << p->err;
    EXPECT_NE(p->err.find("COM3: VKR900-15 answered too late (after the 501 ms of its probe)"),
              std::string::npos)
        << p->err;
    EXPECT_EQ(p->err.find("without a known identifier"), std::string::npos) << p->err;
    EXPECT_EQ(r.requestCount(), 7u);
}

// T, H and the frequencies at their places in the record, read as the reader wrote them.
int Hex(const std::string& record, int from, int count) {
    return std::stoi(record.substr(std::size_t(from - 1), std::size_t(count)), nullptr, 16);
}

TEST_F(CliTest, SensorsDecodesEachTagOrReportsItsNoAck) {
    struct Case {
        std::vector<std::string> present;
        std::vector<std::string> status;
    } cases[] = {
        {{"EEEE-FEDCBAF0", "EEEE-FEDCBAF1", "EEEE-FEDCBAF2"}, {"ok", "ok", "ok"}},
        {{"EEEE-FEDCBAF0", "EEEE-FEDCBAF2"}, {"ok", "NO_ACK", "ok"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status[1]);
        readers.clear();
        sim::Options o;
        o.identifier = "VKR433-SAW";
        o.sensorTags = c.present;
        o.collectionMs = 100;
        sim::ReaderSim& r = AddReader(o);
        int code = -1;
        auto p = Run({"sensors", "--json"}, &code);
        EXPECT_EQ(code, 0) << p->err;
        EXPECT_EQ(CommandsAfterProbe(r), (std::vector<std::string>{"SEND_COP_COLLECTION 16 48 11 3000",
                                                                   "SEND_COP_READ_USER_ID EEEE FEDCBAF0 ",
                                                                   "SEND_COP_READ_USER_ID EEEE FEDCBAF1 ",
                                                                   "SEND_COP_READ_USER_ID EEEE FEDCBAF2 "}));
        const auto sensors = p->Json("sensor");
        ASSERT_EQ(sensors.size(), 3u) << p->out;
        for (int i = 0; i < 3; ++i) {
            const QJsonObject& s = sensors[std::size_t(i)];
            EXPECT_EQ(Str(s, "id"), "EEEE-FEDCBAF" + std::to_string(i));
            EXPECT_EQ(Str(s, "status"), c.status[std::size_t(i)]);
            if (Str(s, "status") != "ok")
                continue;
            const std::string record = Str(s, "record");
            bool sent = false;
            for (const std::string& a : r.answers())
                sent = sent || a.find(" UID " + record + ";") != std::string::npos;
            EXPECT_TRUE(sent) << record;
            EXPECT_EQ(Num(s, "T"), Hex(record, 23, 2));
            EXPECT_EQ(Num(s, "H"), Hex(record, 25, 2));
            EXPECT_EQ(s.contains(S("df")), i == 2);
            if (i == 2) {
                EXPECT_EQ(Num(s, "mf"), 430000 + Hex(record, 31, 4));
                EXPECT_EQ(Num(s, "cf"), 430000 + Hex(record, 35, 4));
                EXPECT_EQ(Num(s, "df"), Num(s, "mf") - Num(s, "cf"));
            }
        }
    }
}

TEST_F(CliTest, MonitorPrintsEachAnswerWithItsTime) {
    struct Case {
        std::vector<std::string> args;
        const char* line; // the pattern of a printed line
    } cases[] = {
        {{"monitor", "--seconds", "1.5"}, "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} :00000001 HELLO %1;$"},
        {{"monitor", "--seconds", "1.5", "--hex"},
         "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 3A 30 30 30 30 30 30 30 31 20 48 45 4C 4C 4F 20 3%1 3B$"},
        {{"monitor", "--json", "--seconds", "1.5", "--hex"},
         "^\\{\"type\":\"answer\",\"time\":\"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\","
         "\"text\":\":00000001 HELLO %1;\",\"hex\":\"3A 30 30 30 30 30 30 30 31 20 48 45 4C 4C 4F 20 3%1 "
         "3B\"\\}$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        readers.clear();
        sim::ReaderSim& r = AddReader();
        auto p = Start(c.args);
        ASSERT_TRUE(p->WaitForStderr("VKR900-15 found COM3"));
        for (int i = 1; i <= 3; ++i)
            r.sendAnswer("HELLO " + std::to_string(i));
        EXPECT_EQ(p->Wait(), 0) << p->err;
        const auto lines = p->Lines();
        ASSERT_EQ(lines.size(), 3u) << p->out;
        for (int i = 0; i < 3; ++i) {
            const QRegularExpression re(S(c.line).arg(i + 1));
            EXPECT_TRUE(re.match(QString::fromStdString(lines[std::size_t(i)])).hasMatch())
                << lines[std::size_t(i)];
        }
        if (c.args[1] == "--json")
            p->JsonLines(); // each one a JSON object
        EXPECT_EQ(CommandsAfterProbe(r), std::vector<std::string>{}) << "the monitor only listens";
    }
}

// An answer holding control characters ("ESC[2J" clears a terminal) is shown with them
// escaped, never raw: as \xHH in text, as JSON escapes in JSON.
TEST_F(CliTest, MonitorNeverWritesAReadersControlCharactersRaw) {
    // (A byte below 0x10 would end the frame: the reader cannot send one inside an answer.)
    const std::string body = std::string("CLS \x1b[2J\x1b[31m\x7f\x9b\\ ok \xE9");
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "JSON" : "text");
        readers.clear();
        sim::ReaderSim& r = AddReader();
        std::vector<std::string> args = {"monitor", "--seconds", "1.5"};
        if (json)
            args.push_back("--json");
        auto p = Start(args);
        ASSERT_TRUE(p->WaitForStderr("VKR900-15 found COM3"));
        r.sendAnswer(body);
        EXPECT_EQ(p->Wait(), 0) << p->err;
        for (char ch : p->out) {
            const auto b = static_cast<unsigned char>(ch);
            EXPECT_TRUE(ch == '\n' || (b >= 0x20 && b != 0x7F)) << "raw byte " << int(b) << " in " << p->out;
        }
        EXPECT_EQ(p->out.find("\xC2\x9B"), std::string::npos) << "a raw C1 control";
        const auto lines = p->Lines();
        ASSERT_EQ(lines.size(), 1u) << p->out;
        if (json) {
            const auto answers = p->Json("answer");
            ASSERT_EQ(answers.size(), 1u);
            EXPECT_EQ(answers[0].value(S("text")).toString(),
                      QString::fromLatin1((":00000001 " + body + ";").c_str()));
        } else {
            const std::string shown = ":00000001 CLS \\x1b[2J\\x1b[31m\\x7f\\x9b\\\\ ok \xC3\xA9;";
            EXPECT_EQ(lines[0].substr(lines[0].find(' ') + 1), shown);
        }
    }
}

TEST_F(CliTest, AnswersLostToAFullReceiveBufferAreReportedAndFailTheRun) {
    // The reader floods while the program cannot get rid of what it writes: monitor's standard
    // output, or inventory's traffic log (a pipe nobody reads), fills and its writes stall;
    // its receive buffer overflows behind them.
    const std::string fifo = home.path() + "/stalled-log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> cases[] = {
        {"monitor", "--seconds", "1.5"},
        {"monitor", "--json", "--seconds", "1.5"},
        {"--traffic-log", fifo, "inventory", "--json", "--seconds", "1.5"},
    };
    for (const auto& args : cases) {
        const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
        const bool stalledLog = args[0] == "--traffic-log";
        SCOPED_TRACE(args[stalledLog ? 2 : 0] + (json ? " --json" : ""));
        readers.clear();
        sim::ReaderSim& r = AddReader();
        // The pipe's reader is there (so that the program can open it) but reads nothing
        // until the flood is over.
        const int logReader = stalledLog ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        auto p = Start(args);
        ASSERT_TRUE(p->WaitForStderr("VKR900-15 found COM3"));
        r.startFlood();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        r.stopFlood();
        std::atomic<bool> done{false};
        std::thread drain([&] {
            char scrap[65536];
            while (logReader >= 0 && !done.load()) {
                if (::read(logReader, scrap, sizeof scrap) <= 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        EXPECT_EQ(p->Wait(), 1) << p->err;
        done.store(true);
        drain.join();
        if (logReader >= 0)
            ::close(logReader);
        EXPECT_TRUE(QRegularExpression(S("COM3: [1-9]\\d* bytes lost, receive buffer full"))
                        .match(QString::fromStdString(p->err))
                        .hasMatch())
            << p->err;
        if (json) {
            const auto summary = p->Json("summary");
            ASSERT_EQ(summary.size(), 1u) << p->out;
            EXPECT_GT(Num(summary[0], "lost_bytes"), 0);
        }
    }
}

} // namespace
} // namespace rd::cli
