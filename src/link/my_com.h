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

// What one probe saw: whether the port opened (and why not), and the reply bytes it read.
struct ProbeOutcome {
    bool opened = false;
    PortError openError;        // the cause when the port did not open
    PortError ioError;          // the cause when the probe's write or a read of it failed
    std::vector<uint8_t> reply; // the bytes read, at most the last kProbeKeepBytes of them
};

// A probe keeps this many of the latest bytes it read, so that an identifier that comes
// after a stream of other answers, or split across reads, is still found.
constexpr std::size_t kProbeKeepBytes = 4096;

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

    // What the last check_port saw, for the caller to explain a failed probe.
    ProbeOutcome LastProbe;

    // Reads the reply for up to 501 ms, ending early at a pause of more than 100 ms after
    // the first byte, and searches the bytes kept so far after every read.
    bool check_port(const std::string& xCOM, int Addr, const std::string& PortStr,
                    const std::u16string& TestStr, const std::string& FindStr);
    // Throws CommandTooLong (nothing echoed, written or counted) when sStr does not fit a frame.
    void SendStrToPort(PortHandle hPort, int Addr, const std::u16string& sStr);
    bool create_port(const std::string& xCOM, const std::string& PortStr);
};

} // namespace rd
