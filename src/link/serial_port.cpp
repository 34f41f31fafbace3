#include "link/serial_port.h"

#include "link/platform.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>

namespace rd {

namespace {

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A decimal number made of digits only, within [lo, hi].
bool parseNumber(const std::string& text, uint64_t lo, uint64_t hi, uint64_t& out) {
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Settings text

bool BuildCommDCB(const std::string& text, LineSettings& s) {
    std::string rest = text;
    const auto colon = rest.find(':');
    const auto equals = rest.find('=');
    if (colon != std::string::npos && (equals == std::string::npos || colon < equals)) {
        // A device name before the colon: one word, nothing else.
        const std::string name = rest.substr(0, colon);
        const auto first = name.find_first_not_of(" \t");
        if (first == std::string::npos)
            return false;
        const auto last = name.find_last_not_of(" \t");
        if (name.substr(first, last - first + 1).find_first_of(" \t") != std::string::npos)
            return false;
        rest = rest.substr(colon + 1);
    }

    LineSettings next = s;
    bool namedAny = false;
    std::size_t pos = 0;
    while (pos < rest.size()) {
        if (rest[pos] == ' ' || rest[pos] == '\t') {
            ++pos;
            continue;
        }
        std::size_t end = rest.find_first_of(" \t", pos);
        if (end == std::string::npos)
            end = rest.size();
        const std::string item = rest.substr(pos, end - pos);
        pos = end;

        const auto eq = item.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == item.size())
            return false;
        const std::string key = lower(item.substr(0, eq));
        const std::string value = lower(item.substr(eq + 1));
        uint64_t number = 0;
        if (key == "baud") {
            if (!parseNumber(value, 1, kMaxDword, number))
                return false;
            next.BaudRate = static_cast<uint32_t>(number);
        } else if (key == "parity") {
            if (value.size() != 1 || std::string("neoms").find(value[0]) == std::string::npos)
                return false;
            next.Parity = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
        } else if (key == "data") {
            if (!parseNumber(value, 5, 8, number))
                return false;
            next.ByteSize = static_cast<uint8_t>(number);
        } else if (key == "stop") {
            if (value == "1")
                next.Stop = StopBits::One;
            else if (value == "1.5")
                next.Stop = StopBits::OnePointFive;
            else if (value == "2")
                next.Stop = StopBits::Two;
            else
                return false;
        } else {
            return false;
        }
        namedAny = true;
    }
    if (!namedAny)
        return false;
    s = next;
    return true;
}

// ---------------------------------------------------------------------------------------
// Port names

namespace {

std::mutex dirMutex;
std::optional<std::string> dirSetting;

} // namespace

void SetPortDirectory(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    dirSetting = dir;
}

void ResetPortDirectory() {
    std::lock_guard lock(dirMutex);
    dirSetting.reset();
}

std::string PortDirectory() {
    std::lock_guard lock(dirMutex);
    if (dirSetting)
        return *dirSetting;
    const char* env = std::getenv("READERDESK_PORT_DIR");
    return env ? std::string(env) : std::string();
}

int ComPortNumber(const std::string& comName) {
    if (comName.size() < 4 || lower(comName.substr(0, 3)) != "com")
        return 0;
    uint64_t n = 0;
    if (!parseNumber(comName.substr(3), 1, 255, n) || comName[3] == '0')
        return 0;
    return static_cast<int>(n);
}

std::string DescribePortError(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return "permission denied";
    case EBUSY:
    case EWOULDBLOCK:
        return "held by another program";
    case ENOENT:
        return "no such port";
    case ENOTTY:
        return "not a serial device";
    case EIO:
        return "input/output error";
    case ENXIO:
    case ENODEV:
        return "the device is gone";
    case ETIMEDOUT:
        return "timed out";
    case EBADF:
        return "the port is not open";
    default:
        return std::error_code(err, std::generic_category()).message();
    }
}

PortError PortFailed(int err, const std::string& device, const std::string& text) {
    return PortError{err, text.empty() ? DescribePortError(err) : text, device};
}

// ---------------------------------------------------------------------------------------
// Handles

namespace {

std::mutex tableMutex;
std::map<PortHandle, std::shared_ptr<PortBackend>> table;
PortHandle nextHandle = 0x100;
PortOpener opener;

std::shared_ptr<PortBackend> lookup(PortHandle h) {
    std::lock_guard lock(tableMutex);
    const auto it = table.find(h);
    return it == table.end() ? nullptr : it->second;
}

} // namespace

void SetPortOpener(PortOpener o) {
    std::lock_guard lock(tableMutex);
    opener = std::move(o);
}

PortHandle OpenPort(const std::string& comName, PortError& why) {
    PortOpener openFn;
    {
        std::lock_guard lock(tableMutex);
        openFn = opener;
    }
    why = {};
    std::unique_ptr<PortBackend> backend = openFn ? openFn(comName, why) : OpenPlatformPort(comName, why);
    if (!backend) {
        if (why.ok())
            why = PortError{ENOENT, "no such port", ""};
        else if (why.text.empty())
            why.text = DescribePortError(why.err);
        return INVALID_PORT_HANDLE;
    }
    why = {};
    std::lock_guard lock(tableMutex);
    // Handles are not reused while the process lives, so a stale one never reaches another port.
    PortHandle h = nextHandle;
    while (h == 0 || h == INVALID_PORT_HANDLE || table.count(h))
        ++h;
    nextHandle = h + 1;
    table.emplace(h, std::move(backend));
    return h;
}

bool ClosePort(PortHandle h) {
    std::shared_ptr<PortBackend> backend;
    {
        std::lock_guard lock(tableMutex);
        const auto it = table.find(h);
        if (it == table.end())
            return false;
        backend = std::move(it->second);
        table.erase(it);
    }
    // A read running on another thread keeps the port alive until it returns.
    return true;
}

bool SetCommTimeouts(PortHandle h, const CommTimeouts& t) {
    auto b = lookup(h);
    return b && b->setTimeouts(t);
}

bool SetupComm(PortHandle h, uint32_t inQueue, uint32_t outQueue) {
    auto b = lookup(h);
    return b && b->setupComm(inQueue, outQueue);
}

bool GetCommState(PortHandle h, LineSettings& s) {
    auto b = lookup(h);
    return b && b->getState(s);
}

bool SetCommState(PortHandle h, const LineSettings& s) {
    auto b = lookup(h);
    return b && b->setState(s);
}

bool PurgeComm(PortHandle h, uint32_t flags) {
    auto b = lookup(h);
    return b && b->purge(flags);
}

bool WaitForInput(PortHandle h, uint32_t timeoutMs) {
    auto b = lookup(h);
    return b && b->waitForInput(timeoutMs);
}

namespace {

// One read or write of a port: EBADF when the port is not open; a failure the backend gives
// without a text gets the text of its number.
template <class Transfer> PortError transfer(PortHandle h, Transfer&& op) {
    const auto b = lookup(h);
    if (!b)
        return PortFailed(EBADF);
    PortError e = op(*b);
    if (!e.ok() && e.text.empty())
        e.text = DescribePortError(e.err);
    return e;
}

} // namespace

PortError ReadFile(PortHandle h, void* buf, uint32_t n, uint32_t* got) {
    if (got)
        *got = 0;
    return transfer(h, [&](PortBackend& b) { return b.read(buf, n, got); });
}

PortError ReadFileUntilWoken(PortHandle h, void* buf, uint32_t n, uint32_t* got, const WakeSignal* wake) {
    if (got)
        *got = 0;
    return transfer(h, [&](PortBackend& b) {
        return wake && wake->valid() ? b.readUntilWoken(buf, n, got, *wake) : b.read(buf, n, got);
    });
}

uint64_t InputOverruns(PortHandle h) {
    const auto b = lookup(h);
    return b ? b->inputOverruns() : 0;
}

PortError WriteFile(PortHandle h, const void* buf, uint32_t n, uint32_t* written) {
    if (written)
        *written = 0;
    return transfer(h, [&](PortBackend& b) { return b.write(buf, n, written); });
}

} // namespace rd
