#include "link/my_com.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace rd {

namespace {

// What a freshly opened port drops: the input waiting in it (old answers). Not its output: on
// a port just closed and opened again, that holds what the last connection wrote, such as the
// "EPC_STOP" sent on close, which the reader may not have taken yet (on a pseudo-terminal an
// output purge drops what the other end has not read).
constexpr uint32_t kOpenPurgeActions = PURGE_RXABORT | PURGE_RXCLEAR;
// The pause between bytes that ends a probe read.
constexpr long long kProbePauseMs = 100;
constexpr uint32_t kInputQueue = 4096;

void setProbeReadTimeouts(CommTimeouts& t) {
    t.ReadIntervalTimeout = 100;
    t.ReadTotalTimeoutMultiplier = 1;
    t.ReadTotalTimeoutConstant = 1;
}

CommTimeouts connectedTimeouts() {
    CommTimeouts t;
    t.ReadIntervalTimeout = 1;
    t.ReadTotalTimeoutMultiplier = 1;
    t.ReadTotalTimeoutConstant = 1;
    t.WriteTotalTimeoutMultiplier = 1;
    t.WriteTotalTimeoutConstant = 0;
    return t;
}

// Time-outs, queue sizes and line settings of a freshly opened port, then the purge of its
// input. The results of the settings calls are not examined: a port that opens is used as it is.
// A port that cannot be purged is closed again before the error is raised: kept open and
// stored nowhere, it would stay locked against every later attempt until the program ends.
void configurePort(Tmy_COM& c, PortHandle h, const std::string& settingsText) {
    SetCommTimeouts(h, c.TimeOuts);
    SetupComm(h, kInputQueue, 0);
    GetCommState(h, c.PortDCB);
    BuildCommDCB(settingsText, c.PortDCB);
    SetCommState(h, c.PortDCB);
    if (!PurgeComm(h, kOpenPurgeActions)) {
        ClosePort(h);
        throw PortSetupError("Error purging port");
    }
}

// Reads the reply to a probe and searches it for the identifier. The first read is the
// probe read itself: up to 500 bytes, within 501 ms, ended by a pause of more than 100 ms
// after the first byte. Only a read that filled up, with the identifier not yet seen, goes
// on: the next byte must come within 100 ms, and the next read, sized so that its total
// limit (1 ms a byte + 1 ms) ends with the 501 ms window, runs under the same rules.
// A reader still streaming the answers of an inventory is found that way. The latest
// kProbeKeepBytes bytes are kept in reply and searched as a whole after every read; a read
// that fails leaves its cause in ioError unless that holds one already (the write's).
bool readProbeReply(PortHandle h, const std::string& findStr, std::vector<uint8_t>& reply,
                    PortError& ioError) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(kProbeWindowMs);
    uint8_t chunk[kProbeReadSize];
    uint32_t want = kProbeReadSize;
    for (;;) {
        uint32_t got = 0;
        if (PortError e = ReadFile(h, chunk, want, &got); !e.ok() && ioError.ok())
            ioError = std::move(e);
        reply.insert(reply.end(), chunk, chunk + got);
        if (reply.size() > kProbeKeepBytes)
            reply.erase(reply.begin(), reply.end() - static_cast<std::ptrdiff_t>(kProbeKeepBytes));
        if (!reply.empty() &&
            FindStrInBuf(reply.data(), static_cast<int>(reply.size()), std::string_view(findStr)))
            return true;
        if (got < want)
            return false; // a pause, the end of the window, or a broken port
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left < 2)
            return false;
        if (!WaitForInput(h, static_cast<uint32_t>(std::min<long long>(left, kProbePauseMs))))
            return false;
        want = static_cast<uint32_t>(std::min<long long>(left - 1, kProbeReadSize));
    }
}

} // namespace

ProbeOutcome Tmy_COM::check_port(const std::string& xCOM, int Addr, const std::string& PortStr,
                                 const std::u16string& TestStr, const std::string& FindStr) {
    ProbeOutcome outcome;
    const PortHandle h = OpenPort(xCOM, outcome.openError);
    if (h == INVALID_PORT_HANDLE)
        return outcome;
    outcome = probe_open_port(h, xCOM, Addr, PortStr, TestStr, FindStr);
    if (!outcome.found)
        ClosePort(h);
    return outcome;
}

ProbeOutcome Tmy_COM::probe_open_port(PortHandle h, const std::string& xCOM, int Addr,
                                      const std::string& PortStr, const std::u16string& TestStr,
                                      const std::string& FindStr) {
    ProbeOutcome outcome;
    outcome.opened = true;
    setProbeReadTimeouts(TimeOuts);
    configurePort(*this, h, xCOM + PortStr);

    try {
        outcome.ioError = SendStrToPort(h, Addr, TestStr);
    } catch (...) {
        // A probe that cannot be framed was never sent: give the port back before the
        // caller hears of it.
        ClosePort(h);
        throw;
    }

    if (readProbeReply(h, FindStr, outcome.reply, outcome.ioError)) {
        TimeOuts = connectedTimeouts();
        SetCommTimeouts(h, TimeOuts);
        hPORT = h;
        outcome.found = true;
    }
    return outcome;
}

PortError Tmy_COM::SendStrToPort(PortHandle hPort, int Addr, const std::u16string& sStr) {
    if (hPort == INVALID_PORT_HANDLE)
        return PortFailed(EBADF);
    // The counter wraps like the original's 32-bit integer instead of overflowing.
    const int32_t next = static_cast<int32_t>(static_cast<uint32_t>(NUM_COMMAND) + 1u);
    const RequestFrame frame = ComposeRequest(Addr, next, sStr); // throws before anything is counted
    NUM_COMMAND = next;
    if (MemoUTIL_SEND)
        MemoUTIL_SEND(frame.sendLogLine);
    if (MemoTERMINAL)
        MemoTERMINAL(frame.terminalLine);
    uint32_t written = 0;
    return WriteFile(hPort, frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), &written);
}

PortError Tmy_COM::create_port(const std::string& xCOM, const std::string& PortStr) {
    if (hPORT != 0 && hPORT != INVALID_PORT_HANDLE) {
        // The port held so far is given up first, so that the same port can be opened again.
        // Its handle is dead from here on and is not kept.
        ClosePort(hPORT);
        hPORT = 0;
    }
    PortError why;
    const PortHandle h = OpenPort(xCOM, why);
    if (h == INVALID_PORT_HANDLE)
        return why;
    configurePort(*this, h, xCOM + PortStr);
    TimeOuts = connectedTimeouts();
    SetCommTimeouts(h, TimeOuts);
    hPORT = h;
    return {};
}

} // namespace rd
