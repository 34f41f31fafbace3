// The network client of the window: the NET boxes and button, --net, and readers behind a
// serial device server, the simulator's own and Debian's ser2net, found, run, lost and back.
#include "sim_window.h"
#include "window_program.h"

#include "app/window/command_line.h"
#include "kit/widgets.h"
#include "link/frames.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rd::testing {
namespace {

const QString kSettings = QStringLiteral(": baud=115200 parity=N data=8 stop=2");

// A port of the loopback that nothing listens on (it was free a moment ago).
uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Whether something listens on 127.0.0.1:port, as the kernel lists it.
bool Listening(uint16_t port) {
    std::ifstream tcp("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::string line;
    while (std::getline(tcp, line)) {
        std::istringstream words(line);
        std::string slot, local, remote, state;
        words >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A")
            return true;
    }
    return false;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// Debian's ser2net serving a device on a free port of the loopback in raw mode, as in the
// field: started in the foreground with its own configuration and pid file, ended by its pid.
class Ser2Net {
  public:
    explicit Ser2Net(const std::string& device) : port_(FreeLoopbackPort()) {
        const std::string dir = tmp_.path().toStdString();
        const std::string config = dir + "/ser2net.yaml";
        const std::string pidFile = dir + "/ser2net.pid";
        log_ = dir + "/ser2net.log";
        std::ofstream(config) << "connection: &reader\n"
                              << "  accepter: tcp,127.0.0.1," << port_ << "\n"
                              << "  connector: serialdev," << device << ",115200n82,local\n"
                              << "  options:\n"
                              << "    kickolduser: true\n";
        const char* exe = ::access("/usr/sbin/ser2net", X_OK) == 0 ? "/usr/sbin/ser2net" : "ser2net";
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execlp(exe, exe, "-n", "-c", config.c_str(), "-P", pidFile.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Listening(port_) && std::chrono::steady_clock::now() < end &&
               ::waitpid(pid_, nullptr, WNOHANG) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Ser2Net() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 300; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    Ser2Net(const Ser2Net&) = delete;
    Ser2Net& operator=(const Ser2Net&) = delete;

    bool serving() const { return pid_ > 0 && Listening(port_); }
    uint16_t port() const { return port_; }
    std::string log() const { return Slurp(log_); }

  private:
    QTemporaryDir tmp_;
    uint16_t port_;
    std::string log_;
    pid_t pid_ = -1;
};

QString TcpName(uint16_t port) {
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}

uint16_t PortOf(const sim::ReaderSim& sim) {
    const std::string name = sim.tcpPortName();
    return static_cast<uint16_t>(std::stoi(name.substr(name.rfind(':') + 1)));
}

struct NetArgsCase {
    QStringList args;
    int exitCode;
    QString host;
    int port;
    QString messagePart;
};

TEST(NetCommandLine, HostAndPortOrWhyNot) {
    const NetArgsCase cases[] = {
        {{"--net", "10.0.0.7"}, -1, "10.0.0.7", 2000, ""},
        {{"--net=reader.plant:4001", "--scan"}, -1, "reader.plant", 4001, ""},
        {{"--net", "[::1]:2001"}, -1, "::1", 2001, ""},
        {{"--net", "[fe80::1]"}, -1, "fe80::1", 2000, ""},
        {{}, -1, "", 2000, ""},
        {{"--net"}, 2, "", 0, "'--net' needs a value"},
        {{"--net="}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
        {{"--net", "h:0"}, 2, "", 0, "'--net' needs HOST or HOST:PORT, not 'h:0'"},
        {{"--net", "h:65536"}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
        {{"--net", "h:x"}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
        {{"--net", "h:+5"}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
        {{"--net", "h:"}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
        {{"--net", ":2000"}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
        {{"--net", "::1"}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
        {{"--net", "[::1]x"}, 2, "", 0, "'--net' needs HOST or HOST:PORT"},
    };
    for (const NetArgsCase& c : cases) {
        const std::string shown = c.args.join(' ').toStdString();
        const CommandLine cl = ParseCommandLine(QStringList{"readerdesk"} + c.args);
        EXPECT_EQ(cl.exitCode, c.exitCode) << shown;
        if (c.exitCode != -1) {
            EXPECT_TRUE(cl.message.contains(c.messagePart)) << shown << ": " << cl.message.toStdString();
            continue;
        }
        EXPECT_EQ(cl.netHost, c.host) << shown;
        EXPECT_EQ(cl.netPort, c.port) << shown;
    }
    EXPECT_EQ(OwnArguments({"readerdesk", "-platform", "offscreen", "--net", "h:1"}),
              QStringList({"readerdesk", "--net", "h:1"}));
    EXPECT_TRUE(UsageText("readerdesk").contains("--net HOST[:PORT]"));
}

class NetClient : public SimWindowTest {
  protected:
    QLineEdit* host() { return control<QLineEdit>("EditNET_HOST"); }
    QLineEdit* port() { return control<QLineEdit>("EditNET_PORT"); }
    QPushButton* net() { return control<QPushButton>("BitBtnUTIL_NET"); }
    QLabel* status() { return control<QLabel>("LabelCOM_PORT_STATUS"); }

    void pressNet(uint16_t p) {
        host()->setText("127.0.0.1");
        port()->setText(QString::number(p));
        ASSERT_TRUE(net()->isEnabled());
        net()->click();
    }

    // A reader on TCP only (no COM name), the simulator serving it itself.
    std::unique_ptr<sim::ReaderSim> tcpReader(int tcpPort = 0, sim::Options o = {}) {
        o.tcpPort = tcpPort;
        return std::make_unique<sim::ReaderSim>(o);
    }

    QString trafficLog() {
        QFile f(tmp.filePath("traffic.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QTemporaryDir tmp;
};

TEST_F(NetClient, BoxesUnderThePortBoxRowAndWhenNetCanBePressed) {
    EXPECT_EQ(host()->text(), "");
    EXPECT_EQ(host()->placeholderText(), "host or address"); // what the empty box asks for
    EXPECT_EQ(port()->text(), "2000");
    EXPECT_EQ(net()->text(), "NET");
    EXPECT_FALSE(net()->isEnabled());
    EXPECT_EQ(net()->parentWidget(), window().cbCOMPORT->parentWidget());
    for (QWidget* w : {static_cast<QWidget*>(host()), static_cast<QWidget*>(port())})
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();

    const struct {
        const char* host;
        const char* port;
        const char* name; // "": NET cannot be pressed
    } rows[] = {
        {"127.0.0.1", "2000", "tcp://127.0.0.1:2000"},
        {" reader.plant ", "4001", "tcp://reader.plant:4001"},
        {"::1", "2000", "tcp://[::1]:2000"},
        {"[::1]", "65535", "tcp://[::1]:65535"},
        {"", "2000", ""},
        {"h", "0", ""},
        {"h", "65536", ""},
        {"h", "", ""},
        {"h", "2x", ""},
        {"a b", "2000", ""},
    };
    for (const auto& r : rows) {
        host()->setText(r.host);
        port()->setText(r.port);
        EXPECT_EQ(window().netPortName(), r.name) << r.host << " " << r.port;
        EXPECT_EQ(net()->isEnabled(), *r.name != '\0') << r.host << " " << r.port;
    }
}

TEST_F(NetClient, NetFindsTheReaderBehindSer2netAndAnInventorySeesItsThreeTags) {
    // A reader on COM1 as well: NET asks the network address alone.
    sim::ReaderSim& onCom = addReader("VKR433-16", 1);
    sim::Options o;
    o.tagCount = 3;
    o.cyclePeriodMs = 20;
    sim::ReaderSim reader(o); // on no COM name and no TCP port of its own
    Ser2Net server(reader.slavePath());
    ASSERT_TRUE(server.serving()) << "is ser2net installed (scripts/setup-deps)? " << server.log();
    const QString name = TcpName(server.port());
    window().setTrafficLog(tmp.filePath("traffic.log"));

    pressNet(server.port());
    ASSERT_TRUE(window().connected()) << memo("MemoUTIL_SEND")->lines()->lines().join('\n').toStdString();
    EXPECT_EQ(memo("MemoUTIL_REC")->lines()->lines(), QStringList{"VKR900-15 found " + name + kSettings});
    EXPECT_EQ(status()->text(), name + kSettings);
    EXPECT_EQ(window().cbCOMPORT->currentText(), name);
    EXPECT_TRUE(trafficLog().contains(" Port " + name + " check..\n"));
    EXPECT_FALSE(trafficLog().contains("Port COM"));
    EXPECT_EQ(reader.commands(), std::vector<std::string>{"VERSION"});
    EXPECT_EQ(onCom.requestCount(), 0u);

    // The antenna test runs an inventory of five cycles through the server and stops it.
    click("BitBtn_ANT_TEST_START");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !reader.inventoryRunning() && control<QWidget>("BitBtn_ANT_TEST_START")->isEnabled(); },
        15000));
    EXPECT_EQ(control<QLabel>("LabelANT_TEST_TAG_COUNT")->text(), "TAGs:3");
    EXPECT_EQ(control<QLabel>("Label_ANT_TEST_INV_COUNT")->text(), "INV:5");
    EXPECT_EQ(memo("MemoANT_TEST_TAGS")->count(), 3);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(NetClient, NothingAtTheAddressSaysWhyAndAsksNoComPort) {
    sim::ReaderSim& onCom = addReader("VKR900-15", 1);
    const uint16_t closed = FreeLoopbackPort();
    pressNet(closed);
    EXPECT_FALSE(window().connected());
    EXPECT_EQ(memo("MemoUTIL_SEND")->lines()->lines(),
              QStringList({"correct devices not found ",
                           TcpName(closed) + ": cannot be opened (connection refused)"}));
    EXPECT_EQ(onCom.requestCount(), 0u);
}

TEST_F(NetClient, StartupScanTriesTheNetworkAddressFirstAndOnce) {
    const struct {
        const char* what;
        bool readerThere;
    } rows[] = {{"reader at the address", true}, {"nothing at the address", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        destroyWindow();
        QFile::remove(tmp.filePath("traffic.log"));
        std::unique_ptr<sim::ReaderSim> remote = row.readerThere ? tcpReader() : nullptr;
        const uint16_t p = remote ? PortOf(*remote) : FreeLoopbackPort();
        sim::ReaderSim& onCom = addReader("VKR900-15", 1);
        window().setTrafficLog(tmp.filePath("traffic.log"));
        window().setNetAddress("127.0.0.1", p, true);
        EXPECT_EQ(host()->text(), "127.0.0.1");
        EXPECT_EQ(port()->text(), QString::number(p));

        scan(); // as --scan does once the window is shown
        ASSERT_TRUE(window().connected());
        const QString found = row.readerThere ? TcpName(p) : QStringLiteral("COM1");
        EXPECT_EQ(status()->text(), found + kSettings);
        EXPECT_EQ(onCom.requestCount(), row.readerThere ? 0u : 1u);
        const QString log = trafficLog();
        EXPECT_LT(log.indexOf("Port " + TcpName(p) + " check.."), log.indexOf(" found "));
        if (!row.readerThere) {
            EXPECT_TRUE(log.contains(TcpName(p) + ": cannot be opened (connection refused)\n"));
            // A later scan is a scan of the COM ports again.
            scan();
            EXPECT_EQ(trafficLog().count("Port " + TcpName(p) + " check.."), 1);
        }
        dropReader(onCom);
    }
}

TEST_F(NetClient, LostNetworkReaderIsReportedAndComesBackByItself) {
    std::unique_ptr<sim::ReaderSim> reader = tcpReader();
    const uint16_t p = PortOf(*reader);
    const QString name = TcpName(p);
    pressNet(p);
    ASSERT_TRUE(window().connected());

    reader->hangUp();
    ASSERT_TRUE(routeUntil([&] { return status()->text() == name + ": connection lost"; }));
    EXPECT_EQ(FontColor(status()), colors::red());
    // The line says why: the server closed the connection.
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().last(),
              "!! " + name + ": connection lost (closed by the server)");

    // The server is back on the same address.
    reader.reset();
    reader = tcpReader(p);
    ASSERT_TRUE(routeUntil([&] { return window().connected(); }, 5000));
    EXPECT_EQ(status()->text(), name + kSettings);
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().last(), "!! " + name + ": reconnected");
    const uint64_t before = window().answersRouted();
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_TRUE(routeUntil([&] { return window().answersRouted() > before; }));
    const std::string answer = ":00000003 VERSION VKR900-15;";
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().last(),
              QString::fromLatin1(AnswerTerminalLine(reinterpret_cast<const uint8_t*>(answer.data()),
                                                     static_cast<int>(answer.size()))));
    EXPECT_EQ(reader->commands(), std::vector<std::string>(2, "VERSION"));
}

// The program itself, as a field engineer starts it: --net with --scan reaches the reader
// behind ser2net before any COM port.
TEST(NetProgram, NetWithScanFindsTheReaderBehindSer2net) {
    sim::ReaderSim reader;
    Ser2Net server(reader.slavePath());
    ASSERT_TRUE(server.serving()) << "is ser2net installed (scripts/setup-deps)? " << server.log();
    sim::TempPortDir ports; // no COM ports at all
    QTemporaryDir tmp;
    const std::string log = tmp.filePath("traffic.log").toStdString();
    const std::string config = tmp.filePath("config").toStdString();
    const std::string net = "127.0.0.1:" + std::to_string(server.port());
    const pid_t pid = StartWindowProgram(
        {"--port-dir", ports.path(), "--net", net, "--scan", "--traffic-log", log}, config);
    ASSERT_GT(pid, 0);
    const std::string found = "VKR900-15 found tcp://" + net + kSettings.toStdString();
    const bool seen = QTest::qWaitFor([&] { return Slurp(log).find(found) != std::string::npos; }, 15000);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(seen) << Slurp(log);
    EXPECT_EQ(reader.commands(), std::vector<std::string>{"VERSION"});
}

} // namespace
} // namespace rd::testing
