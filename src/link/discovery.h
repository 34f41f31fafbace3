// Reader discovery without a window: the identifiers sought and their order, the probes of
// one port, and the verdict line that explains a port holding no known reader. The window's
// scan and the command line both run on this.
#pragma once

#include "link/my_com.h"

#include <array>
#include <functional>
#include <string>

namespace rd {

// What a found reader is, and so how the window prepares itself for it.
enum class ReaderGroup { Uhf900, Active433, SensorTag, Wiegand, Spare };

struct ReaderRow {
    const char* identifier; // sought as a plain substring of the probe reply
    const char* message;    // the "found" message; the settings text follows it directly
    ReaderGroup group;
};

// Probe order: the first identifier found in a reply wins, so a reply holding
// "VKR900-153" is taken at the first row.
extern const std::array<ReaderRow, 7> kReaderRows;

// The line settings text that follows the port name.
inline constexpr const char* kPortSettings = ": baud=115200 parity=N data=8 stop=2";
inline constexpr const char16_t* kProbeCommand = u"VERSION";
// The probes go to this net address, whatever address the user has chosen.
inline constexpr int kProbeAddress = 1;
// A scan tries COM1 to COM<kLastPort>.
inline constexpr int kLastPort = 20;
// The longest part of an unknown reply that a verdict quotes.
inline constexpr int kVerdictQuoteChars = 60;

// What the probes of one port saw, and the one line that explains it.
struct PortVerdict {
    bool opened = false;
    std::vector<uint8_t> reply; // the latest reply that brought any bytes
    PortError openError;        // why the latest probe that did not open failed
    PortError ioError;          // why the latest probe that failed to write or read did
    // The row whose identifier a reply held while another identifier was sought: the reply
    // to an earlier probe, come after that probe's window.
    const ReaderRow* late = nullptr;

    void take(const ProbeOutcome& p);
    // "" when there is nothing to say: the port has no entry at all.
    std::string line(const std::string& portName) const;
};

struct PortProbeResult {
    const ReaderRow* found = nullptr; // the row whose identifier the port answered with
    bool cancelled = false;           // beforeProbe said stop
    PortVerdict verdict;              // what the probes saw, when nothing was found
};

struct PortProbeHooks {
    // Called before each probe, and about every 10 ms while an open runs on a thread of its
    // own; returning false cancels the scan there.
    std::function<bool()> beforeProbe;
    // Called after each probe with what it saw (the reply bytes, the cause of a failed open).
    std::function<void(const ProbeOutcome&)> afterProbe;
};

// Sets com.CommPort and com.CommPortStr for portName and probes it for each identifier in
// order. A serial port is opened for each probe, as the probes' pacing has it; a TCP port is
// resolved and connected once and probed on that one connection. A port that does not open
// is not probed further. With a beforeProbe hook the open (a name look-up, a TCP connect)
// runs on a thread of its own while the hook is asked about every 10 ms. On a match the port
// stays open in com.hPORT. Throws PortSetupError (the port closed again) as the probes do.
PortProbeResult ProbePort(Tmy_COM& com, const std::string& portName, const PortProbeHooks& hooks = {});

} // namespace rd
