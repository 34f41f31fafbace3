// OPEN and CLOSE on the UTIL page: a port connected without identification, ended cleanly,
// and an OPEN that fails saying why.
#include "sim_window.h"

#include "kit/line_list.h"
#include "link/serial_port.h"

#include <QLabel>

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace rd::testing {
namespace {

const QString kSettings = QStringLiteral(": baud=115200 parity=N data=8 stop=2");

class ManualConnection : public SimWindowTest {
  protected:
    QLabel* status() { return control<QLabel>("LabelCOM_PORT_STATUS"); }
    QComboBox* portBox() { return control<QComboBox>("cbCOMPORT"); }
    void open(const char* port) {
        portBox()->setEditText(port);
        click("BitBtnUTIL_OPEN");
    }
    QStringList portItems() {
        QStringList items;
        for (int i = 0; i < portBox()->count(); ++i)
            items << portBox()->itemText(i);
        return items;
    }
};

TEST_F(ManualConnection, OpenWithoutProbingSendsAndCloseReleasesThePort) {
    // A reader no scan finds: its identifier is not in the table.
    sim::ReaderSim& reader = addReader("ACME-7", 4);
    sim::ReaderSim& found = addReader("VKR900-15", 2);

    open("COM4");
    ASSERT_TRUE(window().connected());
    EXPECT_TRUE(window().manualConnection());
    EXPECT_EQ(status()->text(), "COM4" + kSettings + " (opened without identification)");
    EXPECT_EQ(portBox()->currentText(), "COM4");
    // Nothing was sent to find out what it is.
    EXPECT_FALSE(reader.waitForRequests(1, 200));

    control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText("VERSION");
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_TRUE(reader.waitForRequests(1, 2000));
    EXPECT_EQ(reader.commands(), std::vector<std::string>{"VERSION"});
    EXPECT_TRUE(routeUntil([&] { return window().answersRouted() == 1; }));

    click("BitBtnUTIL_CLOSE");
    EXPECT_FALSE(window().connected());
    EXPECT_FALSE(window().manualConnection());
    EXPECT_EQ(status()->text(), "STATUS");
    EXPECT_EQ(portBox()->currentText(), "----");
    // Released: another program gets it.
    const int fd = ::open(reader.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);

    // A scan lists the ports of the mapping and leaves the box's text as it was.
    scan();
    EXPECT_EQ(portItems(), QStringList({"COM2", "COM4"}));
    EXPECT_EQ(portBox()->currentText(), "COM2");
    // OPEN ends the scan's connection first, the found reader's run stopped, and goes to the
    // port chosen.
    const std::size_t sent = found.requestCount();
    click("BitBtnEPC_INVENTORY_TIME");
    open("COM4");
    ASSERT_TRUE(found.waitForRequests(sent + 2, 2000));
    EXPECT_EQ(found.commands().back(), "EPC_STOP");
    EXPECT_FALSE(found.inventoryRunning());
    EXPECT_TRUE(window().manualConnection());
    EXPECT_EQ(status()->text(), "COM4" + kSettings + " (opened without identification)");
}

TEST_F(ManualConnection, ALostPortComesBackWithoutIdentification) {
    sim::ReaderSim* reader = &addReader("ACME-7", 4);
    open("COM4");
    ASSERT_TRUE(window().connected());
    reader->hangUp();
    ASSERT_TRUE(routeUntil([&] { return status()->text() == "COM4: connection lost"; }));
    dropReader(*reader);
    reader = &addReader("ACME-7", 4);
    ASSERT_TRUE(routeUntil([&] { return window().connected(); }, 5000));
    EXPECT_EQ(status()->text(), "COM4" + kSettings + " (opened without identification)");
    // Opened again, not probed.
    EXPECT_FALSE(reader->waitForRequests(1, 200));
}

struct FailCase {
    const char* name;
    const char* port;
    bool held;
    const char* line;
};

class OpenFails : public ManualConnection, public ::testing::WithParamInterface<FailCase> {};

TEST_P(OpenFails, SaysWhyAndStaysUnconnected) {
    const FailCase& r = GetParam();
    sim::ReaderSim& reader = addReader("ACME-7", 4);
    int fd = -1;
    if (r.held) {
        fd = ::open(reader.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    }
    open(r.port);
    EXPECT_FALSE(window().connected());
    EXPECT_EQ(status()->text(), "STATUS");
    EXPECT_TRUE(has(memo("MemoUTIL_SEND"), QString::fromLatin1(r.line)))
        << memo("MemoUTIL_SEND")->lines()->lines().join("|").toStdString();
    EXPECT_EQ(portBox()->currentText(), QString::fromLatin1(r.port));
    if (fd >= 0)
        ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenFails,
                         ::testing::Values(FailCase{"Held", "COM4", true, "COM4: held by another program"},
                                           FailCase{"Missing", "COM9", false, "COM9: no such port"}),
                         [](const ::testing::TestParamInfo<FailCase>& i) {
                             return std::string(i.param.name);
                         });

// A port whose writes fail (a device that stopped taking data) and that reads nothing.
class RefusingPort : public PortBackend {
  public:
    bool setTimeouts(const CommTimeouts&) override { return true; }
    bool setupComm(uint32_t, uint32_t) override { return true; }
    bool getState(LineSettings&) override { return true; }
    bool setState(const LineSettings&) override { return true; }
    bool purge(uint32_t) override { return true; }
    PortError read(void*, uint32_t, uint32_t* got) override {
        *got = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return {};
    }
    PortError write(const void*, uint32_t, uint32_t* written) override {
        *written = 0;
        return PortFailed(EIO, "/dev/ttyUSB9");
    }
};

TEST_F(ManualConnection, AWriteThatFailsSaysSoInTheTerminal) {
    SetPortOpener([](const std::string&, PortError&) { return std::make_unique<RefusingPort>(); });
    open("COM9");
    SetPortOpener({});
    ASSERT_TRUE(window().connected());
    control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText("VERSION");
    click("BitBtnUTIL_SEND_COMMAND");
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().last(), "!! COM9: write failed: input/output error");
    click("BitBtnUTIL_CLOSE");
}

} // namespace
} // namespace rd::testing
