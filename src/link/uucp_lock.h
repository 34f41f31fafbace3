// The lock files other serial programs (ser2net, minicom, the uucp family) keep for a tty, and
// the one this program keeps while it holds a port: DIR/LCK..NAME, where NAME is the device's
// path below /dev with '/' made '_' (/dev/ttyUSB0: LCK..ttyUSB0, /dev/pts/3: LCK..pts_3), or
// its last component outside /dev. The file holds the holder's PID as ten characters, right
// aligned, and a newline; files of older programs hold it as 4 binary bytes. DIR is
// LockDirectory() (serial_port.h). POSIX only.
#pragma once

#include <string>
#include <utility>

namespace rd {

// "LCK..NAME" for a device path (links are not followed here).
std::string UucpLockName(const std::string& device);

// A lock file this process has made; removed when the object goes, if it still names this
// process.
class UucpLock {
  public:
    UucpLock() = default;
    explicit UucpLock(std::string file) : file_(std::move(file)) {}
    ~UucpLock() { release(); }
    UucpLock(UucpLock&& o) noexcept : file_(std::move(o.file_)) { o.file_.clear(); }
    UucpLock& operator=(UucpLock&& o) noexcept;
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    // The lock file's path; "" when none is held.
    const std::string& file() const { return file_; }
    void release();

  private:
    std::string file_;
};

struct UucpLockResult {
    bool busy = false; // a live process other than this one holds the device
    int holder = 0;    // its PID, when busy
    UucpLock lock;     // the lock taken; none when busy or when the folder takes no files
};

// Takes the lock of device (followed to the real device first). A lock of a dead process,
// one that names no process, or a leftover of this very process, is removed and taken over.
// When the folder is missing or not writable the lock is not taken: that is said once per
// folder on stderr, and the result is not busy.
UucpLockResult TakeUucpLock(const std::string& device);

// The live process, other than this one, whose lock file names device; 0 when there is none.
// Changes nothing.
int UucpLockHolder(const std::string& device);

} // namespace rd
