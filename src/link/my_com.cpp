#include "my_com.h"

namespace rd {

namespace {

constexpr uint32_t kAllPurgeActions = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr uint32_t kProbeReadSize = 500;
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

// Time-outs, queue sizes and line settings of a freshly opened port, then the purge. The
// results of the settings calls are not examined: a port that opens is used as it is.
// A port that cannot be purged is closed again before the error is raised: kept open and
// stored nowhere, it would stay locked against every later attempt until the program ends.
void configurePort(Tmy_COM& c, PortHandle h, const std::string& settingsText) {
    SetCommTimeouts(h, c.TimeOuts);
    SetupComm(h, kInputQueue, 0);
    GetCommState(h, c.PortDCB);
    BuildCommDCB(settingsText, c.PortDCB);
    SetCommState(h, c.PortDCB);
    if (!PurgeComm(h, kAllPurgeActions)) {
        ClosePort(h);
        throw PortSetupError("Error purging port");
    }
}

} // namespace

bool Tmy_COM::check_port(const std::string& xCOM, int Addr, const std::string& PortStr,
                         const std::u16string& TestStr, const std::string& FindStr) {
    const PortHandle h = OpenPort(xCOM);
    if (h == INVALID_PORT_HANDLE)
        return false;
    setProbeReadTimeouts(TimeOuts);
    configurePort(*this, h, xCOM + PortStr);

    try {
        SendStrToPort(h, Addr, TestStr);
    } catch (...) {
        // A probe that cannot be framed was never sent: give the port back before the
        // caller hears of it.
        ClosePort(h);
        throw;
    }

    uint8_t reply[kProbeReadSize];
    uint32_t got = 0;
    ReadFile(h, reply, kProbeReadSize, &got);
    if (got > 0 && FindStrInBuf(reply, static_cast<int>(got), std::string_view(FindStr))) {
        TimeOuts = connectedTimeouts();
        SetCommTimeouts(h, TimeOuts);
        hPORT = h;
        return true;
    }
    ClosePort(h);
    return false;
}

void Tmy_COM::SendStrToPort(PortHandle hPort, int Addr, const std::u16string& sStr) {
    if (hPort == INVALID_PORT_HANDLE)
        return;
    // The counter wraps like the original's 32-bit integer instead of overflowing.
    const int32_t next = static_cast<int32_t>(static_cast<uint32_t>(NUM_COMMAND) + 1u);
    const RequestFrame frame = ComposeRequest(Addr, next, sStr); // throws before anything is counted
    NUM_COMMAND = next;
    if (MemoUTIL_SEND)
        MemoUTIL_SEND(frame.sendLogLine);
    if (MemoTERMINAL)
        MemoTERMINAL(frame.terminalLine);
    uint32_t written = 0;
    WriteFile(hPort, frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), &written);
}

bool Tmy_COM::create_port(const std::string& xCOM, const std::string& PortStr) {
    if (hPORT != 0 && hPORT != INVALID_PORT_HANDLE) {
        // The port held so far is given up first, so that the same port can be opened again.
        // Its handle is dead from here on and is not kept.
        ClosePort(hPORT);
        hPORT = 0;
    }
    const PortHandle h = OpenPort(xCOM);
    if (h == INVALID_PORT_HANDLE)
        return false;
    configurePort(*this, h, xCOM + PortStr);
    TimeOuts = connectedTimeouts();
    SetCommTimeouts(h, TimeOuts);
    hPORT = h;
    return true;
}

} // namespace rd
