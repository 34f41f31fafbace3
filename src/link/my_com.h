// Tmy_COM: one serial port connection. Opens and probes a port, composes and writes
// request frames with their echo lines, and holds what the window needs of the
// connected port.
#pragma once

#include "link/frames.h"
#include "link/serial_port.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace rd {

class TCOM_A;

// Raised by check_port and create_port when the port cannot be purged; the port of that
// attempt has been closed again.
class PortSetupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A list of text lines that the window provides (send log, terminal). Lines are
// byte strings, one char per byte.
using LineSink = std::function<void(const std::string& line)>;

// What one probe saw: whether it found the identifier, whether the port opened (and why
// not), and the reply bytes it read.
struct ProbeOutcome {
    bool found = false; // the identifier was in the reply: the port stays open in hPORT
    bool opened = false;
    PortError openError;        // the cause when the port did not open
    PortError ioError;          // the cause when the probe's write or a read of it failed
    std::vector<uint8_t> reply; // the bytes read, at most the last kProbeKeepBytes of them
};

// A probe keeps this many of the latest bytes it read, so that an identifier that comes
// after a stream of other answers, or split across reads, is still found.
constexpr std::size_t kProbeKeepBytes = 4096;
// A probe read takes at most this many bytes, within its window: 1 ms a byte + 1 ms.
constexpr uint32_t kProbeReadSize = 500;
constexpr long long kProbeWindowMs = kProbeReadSize + 1;

class Tmy_COM {
  public:
    std::string CommPort;
    std::string CommPortStr;
    PortHandle hPORT = 0;
    LineSettings PortDCB{};
    CommTimeouts TimeOuts{};
    std::shared_ptr<TCOM_A> COM;
    int32_t NUM_COMMAND = 0;

    // Where the echo lines go: MemoUTIL_SEND and MemoTERMINAL of the window.
    LineSink MemoUTIL_SEND;
    LineSink MemoTERMINAL;

    // Opens xCOM, sends the probe TestStr and reads the reply for up to 501 ms, ending early
    // at a pause of more than 100 ms after the first byte, and searches the bytes kept so far
    // after every read for FindStr. What it saw, found or not, for the caller to explain a
    // failed probe.
    ProbeOutcome check_port(const std::string& xCOM, int Addr, const std::string& PortStr,
                            const std::u16string& TestStr, const std::string& FindStr);
    // The probe of a port opened already (h), as check_port makes it after its open: line
    // settings, purge, the probe and its reply. On a match the port is kept in hPORT; otherwise
    // it stays open for the caller (a TCP port is probed for every identifier on one
    // connection). A port that cannot be purged, or a probe that cannot be framed, closes h
    // before the error.
    ProbeOutcome probe_open_port(PortHandle h, const std::string& xCOM, int Addr, const std::string& PortStr,
                                 const std::u16string& TestStr, const std::string& FindStr);
    // The write's outcome (EBADF, with nothing echoed or counted, for INVALID_PORT_HANDLE).
    // Throws CommandTooLong (nothing echoed, written or counted) when sStr does not fit a frame.
    PortError SendStrToPort(PortHandle hPort, int Addr, const std::u16string& sStr);
    // Opens xCOM without a probe: err 0 when it opened (then in hPORT), else why not.
    PortError create_port(const std::string& xCOM, const std::string& PortStr);
};

} // namespace rd
