#include "link/uucp_lock.h"

#include "link/serial_port.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rd {

// ---------------------------------------------------------------------------------------
// The lock folder

namespace {

constexpr const char* kDefaultLockDir = "/var/lock";

std::mutex dirMutex;
std::optional<std::string> dirSetting;

} // namespace

void SetLockDirectory(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    dirSetting = dir;
}

void ResetLockDirectory() {
    std::lock_guard lock(dirMutex);
    dirSetting.reset();
}

std::string LockDirectory() {
    std::lock_guard lock(dirMutex);
    std::string dir;
    if (dirSetting) {
        dir = *dirSetting;
    } else if (const char* env = std::getenv("READERDESK_LOCK_DIR")) {
        dir = env;
    }
    return dir.empty() ? kDefaultLockDir : dir;
}

// ---------------------------------------------------------------------------------------
// Lock files

namespace {

// Says once for each folder that no lock files can be kept there, and why.
void noticeNoLocks(const std::string& dir, int err) {
    static std::mutex m;
    static std::set<std::string> told;
    std::lock_guard lock(m);
    if (!told.insert(dir).second)
        return;
    std::string why = std::error_code(err, std::generic_category()).message();
    if (!why.empty())
        why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
    std::fprintf(stderr,
                 "readerdesk: cannot take serial port locks in %s (%s); using the port's own locks only\n",
                 dir.c_str(), why.c_str());
}

// A decimal PID as the text of a lock file has it: blanks, up to ten digits, then the end or a
// blank (some programs add their name). 0 when the text is anything else.
long textPid(const char* text, std::size_t n) {
    std::size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const std::size_t first = i;
    long v = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9' && i - first < 10)
        v = v * 10 + (text[i++] - '0');
    if (i == first || (i < n && text[i] != ' ' && text[i] != '\t' && text[i] != '\n'))
        return 0;
    return v <= INT32_MAX ? v : 0;
}

// The PID a lock file names: 0 when it names none (empty, garbage, a PID below 1); nothing
// when there is no such file, or it cannot be read.
std::optional<long> lockFilePid(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    char buf[64];
    ssize_t n;
    do
        n = ::read(fd, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    if (n == 4) {
        // Four bytes are the binary form, unless they read as a short decimal one.
        if (const long pid = textPid(buf, 4); pid > 0)
            return pid;
        int32_t pid = 0;
        std::memcpy(&pid, buf, sizeof pid);
        return pid > 0 ? pid : 0;
    }
    return textPid(buf, static_cast<std::size_t>(n));
}

bool alive(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// A live process other than this one.
bool foreignHolder(long pid) {
    return pid > 0 && pid != ::getpid() && alive(pid);
}

std::string lockFileOf(const std::string& device) {
    std::string real = device;
    if (char* p = ::realpath(device.c_str(), nullptr)) {
        real = p;
        std::free(p);
    }
    return LockDirectory() + "/" + UucpLockName(real);
}

bool writeAll(int fd, const char* text, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, text, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        text += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

} // namespace

std::string UucpLockName(const std::string& device) {
    std::string name;
    if (device.compare(0, 5, "/dev/") == 0) {
        name = device.substr(5);
        for (char& c : name)
            if (c == '/')
                c = '_';
    } else {
        const auto slash = device.rfind('/');
        name = slash == std::string::npos ? device : device.substr(slash + 1);
    }
    return "LCK.." + name;
}

UucpLock& UucpLock::operator=(UucpLock&& o) noexcept {
    if (this != &o) {
        release();
        file_ = std::move(o.file_);
        o.file_.clear();
    }
    return *this;
}

void UucpLock::release() {
    if (file_.empty())
        return;
    // Only while it is still this process's: a lock someone took over stays theirs.
    if (lockFilePid(file_) == static_cast<long>(::getpid()))
        ::unlink(file_.c_str());
    file_.clear();
}

UucpLockResult TakeUucpLock(const std::string& device) {
    const std::string file = lockFileOf(device);
    const std::string dir = file.substr(0, file.rfind('/'));
    UucpLockResult result;
    // Another program may make or remove the file between the look and the make: look again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (const auto pid = lockFilePid(file)) {
            if (foreignHolder(*pid)) {
                result.busy = true;
                result.holder = static_cast<int>(*pid);
                return result;
            }
            // A dead holder, garbage, or this process's own leftover.
            if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
                noticeNoLocks(dir, errno);
                return result;
            }
        }
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            noticeNoLocks(dir, errno);
            return result;
        }
        char text[16];
        const int n = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
        // Readable by all whatever the umask, as the other programs read it.
        ::fchmod(fd, 0644);
        const bool written = writeAll(fd, text, static_cast<std::size_t>(n));
        const int err = errno;
        ::close(fd);
        if (!written) {
            ::unlink(file.c_str());
            noticeNoLocks(dir, err != 0 ? err : EIO);
            return result;
        }
        result.lock = UucpLock(file);
        return result;
    }
    // The file keeps coming back: someone holds the device.
    result.busy = true;
    return result;
}

int UucpLockHolder(const std::string& device) {
    const auto pid = lockFilePid(lockFileOf(device));
    return pid && foreignHolder(*pid) ? static_cast<int>(*pid) : 0;
}

} // namespace rd
