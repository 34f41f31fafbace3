// The serial lock files shared with other programs (ser2net, minicom): a port another live
// process has locked is busy and the verdict names that process, a stale lock is cleared, an
// open port carries this process's lock until it closes, and a folder that takes no locks
// leaves the port's own locks, said once. On pseudo-terminals, with real processes as holders.
#include "link/discovery.h"
#include "link/serial_port.h"
#include "link/uucp_lock.h"

#include "link_test_support.h"
#include "sim/reader_sim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace rd {
namespace {

// An open of the port, its cause kept for the checks that follow.
PortError lastWhy;
PortHandle Open(const std::string& name) {
    return OpenPort(name, lastWhy);
}

using testing::RawPty;

std::string hdb(long pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", pid);
    return text;
}

std::string binaryPid(long pid) {
    const int32_t v = static_cast<int32_t>(pid);
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

std::string readAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0;
}

// A process that is not this one and lives until the object goes: `sleep`.
class Sleeper {
  public:
    Sleeper() {
        char arg0[] = "sleep", arg1[] = "60";
        char* argv[] = {arg0, arg1, nullptr};
        if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) != 0)
            throw std::runtime_error("cannot start sleep");
    }
    ~Sleeper() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// The PID of a process that has ended.
pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// What the process writes on stderr while the object lives.
class StderrCapture {
  public:
    explicit StderrCapture(const std::string& file) : file_(file) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string text() {
        restore();
        return readAll(file_);
    }

  private:
    void restore() {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    std::string file_;
    int saved_ = -1;
};

// COM1 is a raw pty; lock files go to a folder of the test's own.
class LockFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPortDirectory(ports.path());
        SetLockDirectory(locks.path());
        pty.publish(ports.path(), 1);
        lockFile = locks.path() + "/" + UucpLockName(pty.slavePath());
    }
    void TearDown() override {
        ResetLockDirectory();
        ResetPortDirectory();
    }
    void writeLock(const std::string& content) const { std::ofstream(lockFile, std::ios::binary) << content; }

    sim::TempPortDir ports, locks;
    RawPty pty;
    std::string lockFile;
};

TEST(UucpLockNames, AsOtherSerialProgramsNameThem) {
    const struct {
        const char* device;
        const char* name;
    } rows[] = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},   {"/dev/ttyS1", "LCK..ttyS1"},
        {"/dev/pts/3", "LCK..pts_3"},       {"/dev/serial/by-id/usb-x", "LCK..serial_by-id_usb-x"},
        {"/tmp/ports/ttyV0", "LCK..ttyV0"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(UucpLockName(r.device), r.name) << r.device;
}

TEST_F(LockFileTest, OpenPortCarriesOurLockUntilClosed) {
    ASSERT_EQ(lockFile, locks.path() + "/LCK..pts_" + pty.slavePath().substr(std::strlen("/dev/pts/")));
    PortHandle h = Open("COM1");
    ASSERT_NE(h, INVALID_PORT_HANDLE);
    EXPECT_EQ(readAll(lockFile), hdb(::getpid()));
    EXPECT_EQ(Open("COM1"), INVALID_PORT_HANDLE); // still ours: a second open of this process fails
    EXPECT_EQ(readAll(lockFile), hdb(::getpid()));
    EXPECT_TRUE(ClosePort(h));
    EXPECT_FALSE(exists(lockFile));

    // A lock that another program has taken over meanwhile is not ours to remove.
    h = Open("COM1");
    ASSERT_NE(h, INVALID_PORT_HANDLE);
    Sleeper other;
    writeLock(hdb(other.pid()));
    EXPECT_TRUE(ClosePort(h));
    EXPECT_EQ(readAll(lockFile), hdb(other.pid()));
}

TEST_F(LockFileTest, LiveHolderMakesThePortBusyAndStaleLocksAreCleared) {
    Sleeper holder;
    const long live = holder.pid();
    const struct {
        const char* what;
        std::string content;
        long holder; // 0: stale, the port opens
    } rows[] = {
        {"live, ten characters", hdb(live), live},
        {"live, four binary bytes", binaryPid(live), live},
        {"live, with the program's name", hdb(live).substr(0, 10) + " minicom root\n", live},
        // Unless the test runs privileged, init is a live process it may not signal.
        {"live, of another user", hdb(1), 1},
        {"dead", hdb(deadPid()), 0},
        {"dead, four binary bytes", binaryPid(deadPid()), 0},
        {"garbage", "not a pid\n", 0},
        {"empty", "", 0},
        {"PID 0", hdb(0), 0},
        {"this process's leftover", hdb(::getpid()), 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        writeLock(r.content);
        const PortHandle h = Open("COM1");
        const bool busy = r.holder != 0;
        if (busy) {
            EXPECT_EQ(h, INVALID_PORT_HANDLE);
            const PortError e = lastWhy;
            EXPECT_EQ(e.err, EBUSY);
            EXPECT_EQ(e.pid, r.holder);
            EXPECT_EQ(e.text, "held by another program, PID " + std::to_string(r.holder));
            EXPECT_EQ(e.device, pty.slavePath());
            PortVerdict verdict;
            verdict.openError = e;
            EXPECT_EQ(verdict.line("COM1"),
                      "COM1: busy (held by another program, PID " + std::to_string(r.holder) + ")");
            EXPECT_EQ(readAll(lockFile), r.content); // the holder's lock stays as it was
            // Nothing of the refused open is left behind: with the holder gone, it opens.
            ::unlink(lockFile.c_str());
        }
        const PortHandle opened = busy ? Open("COM1") : h;
        ASSERT_NE(opened, INVALID_PORT_HANDLE);
        EXPECT_EQ(readAll(lockFile), hdb(::getpid()));
        EXPECT_TRUE(ClosePort(opened));
        EXPECT_FALSE(exists(lockFile));
    }
}

TEST_F(LockFileTest, AnotherInstanceHoldingThePortIsNamed) {
    // A second process of this program opens the port and holds it.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char ok = Open("COM1") != INVALID_PORT_HANDLE ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, '1');

    EXPECT_EQ(Open("COM1"), INVALID_PORT_HANDLE);
    const PortError e = lastWhy;
    EXPECT_TRUE(e.err == EWOULDBLOCK || e.err == EBUSY) << e.err;
    EXPECT_EQ(e.pid, child);
    EXPECT_EQ(e.text, "held by another program, PID " + std::to_string(child));

    // The holder dies without a word: its lock is stale and the port opens.
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(readAll(lockFile), hdb(child));
    // Its exclusive flag would go with the tty's last close; the test keeps the tty open.
    ASSERT_EQ(::ioctl(pty.slave(), TIOCNXCL), 0);
    const PortHandle h = Open("COM1");
    ASSERT_NE(h, INVALID_PORT_HANDLE);
    EXPECT_EQ(readAll(lockFile), hdb(::getpid()));
    ClosePort(h);
}

TEST_F(LockFileTest, FolderWithoutLocksLeavesThePortsOwnLocksAndSaysSoOnce) {
    std::ofstream(locks.path() + "/plain-file") << "x";
    const struct {
        const char* what;
        std::string dir;
        bool needsUnprivileged; // permissions do not stop a privileged process
    } rows[] = {
        {"missing", locks.path() + "/missing", false},
        {"not a folder", locks.path() + "/plain-file", false},
        {"read-only", locks.path() + "/read-only", true},
    };
    ASSERT_EQ(::mkdir(rows[2].dir.c_str(), 0555), 0);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        if (r.needsUnprivileged && ::geteuid() == 0)
            continue;
        SetLockDirectory(r.dir);
        StderrCapture err(locks.path() + "/stderr");
        for (int i = 0; i < 2; ++i) {
            const PortHandle h = Open("COM1");
            ASSERT_NE(h, INVALID_PORT_HANDLE);
            // The port's own locks still hold.
            EXPECT_EQ(Open("COM1"), INVALID_PORT_HANDLE);
            EXPECT_TRUE(ClosePort(h));
        }
        const std::string text = err.text();
        const std::string head = "readerdesk: cannot take serial port locks in " + r.dir + " (";
        EXPECT_EQ(text.find(head), 0u) << text;
        EXPECT_NE(text.find("); using the port's own locks only\n"), std::string::npos) << text;
        EXPECT_EQ(text.find(head, 1), std::string::npos) << "said more than once: " << text;
    }

    // A folder that can be read but not written still has its holders honoured.
    if (::geteuid() != 0) {
        Sleeper holder;
        ::chmod(rows[2].dir.c_str(), 0755);
        std::ofstream(rows[2].dir + "/" + UucpLockName(pty.slavePath())) << hdb(holder.pid());
        ::chmod(rows[2].dir.c_str(), 0555);
        SetLockDirectory(rows[2].dir);
        EXPECT_EQ(Open("COM1"), INVALID_PORT_HANDLE);
        EXPECT_EQ(lastWhy.pid, holder.pid());
    }
    ::chmod(rows[2].dir.c_str(), 0755);
}

} // namespace
} // namespace rd
