#include "cli/cli_commands.h"

#include "cli/inventory_stop.h"
#include "cli/inventory_tally.h"
#include "cli/replay_command.h"
#include "cli/session.h"
#include "cli/stop_signals.h"

#include "link/discovery.h"
#include "link/frames.h"
#include "link/serial_port.h"
#include "protocol/protocol_text.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rd::cli {

namespace {

using std::chrono::milliseconds;

std::string HexBytes(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (!out.empty())
            out += ' ';
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    return out;
}

// Without the blanks at either end.
std::string Trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n\f\v");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n\f\v") - first + 1);
}

const ReaderWanted kAnyReader{};
} // namespace

const ReaderWanted k900Reader{[](ReaderGroup g) { return g == ReaderGroup::Uhf900; }, "900 MHz reader"};
namespace {

const ReaderWanted kSensorReader{
    [](ReaderGroup g) { return g == ReaderGroup::SensorTag || g == ReaderGroup::Active433; },
    "433 MHz or sensor-tag reader"};

// An answer as a result line: the answer text, with the time in front for the monitor.
void PrintAnswer(Output& out, const std::string& answer, bool withTime, bool hex) {
    if (out.json()) {
        JsonLine j;
        j.str("type", "answer").str("time", StampNow()).str("text", Latin1ToUtf8(answer));
        if (hex)
            j.str("hex", HexBytes(answer));
        out.line(j);
        return;
    }
    const std::string body = hex ? HexBytes(answer) : TerminalText(answer);
    out.line(withTime ? TimeOfDayNow() + ' ' + body : body);
}

// The command text of send: the words joined by single blanks.
std::string SendText(const CliOptions& o) {
    std::string command;
    for (const std::string& w : o.words)
        command += (command.empty() ? "" : " ") + w;
    return command;
}

// The group that owns device when this user may not open it for reading and writing (its
// number where the system has no name for it); nothing when the user may. On Windows the
// system answers only at the open, and nothing is said here.
std::optional<std::string> DeniedGroup(const std::string& device) {
#ifdef _WIN32
    (void)device;
    return std::nullopt;
#else
    if (::access(device.c_str(), R_OK | W_OK) == 0 || (errno != EACCES && errno != EPERM))
        return std::nullopt;
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return std::nullopt;
    if (const struct group* g = ::getgrgid(st.st_gid))
        return std::string(g->gr_name);
    return std::to_string(st.st_gid);
#endif
}

} // namespace

std::string CheckComposedCommands(const CliOptions& o) {
    struct Composed {
        const char* what;
        std::string text;
    };
    std::vector<Composed> commands;
    switch (o.command) {
    case Command::Send:
        commands.push_back({"the command", SendText(o)});
        break;
    case Command::Inventory:
    case Command::Sweep:
        commands.push_back(
            {"the inventory start (--q, --c, --n)", proto::KelmEpcInventoryTime(o.q, o.c, o.n)});
        commands.push_back({"the stop", proto::EpcStop()});
        break;
    default:
        // The other commands compose texts of their own, of a fixed size.
        break;
    }
    for (const Composed& c : commands) {
        // Counters take eight digits up to 99,999,999; a session comes nowhere near that.
        const std::size_t room = MaxCommandLength(1);
        const std::size_t length = proto::Utf8ToUtf16(c.text).size();
        if (length > room)
            return std::string(c.what) + " is too long: " + std::to_string(length) + " characters, at most " +
                   std::to_string(room);
    }
    return {};
}

int RunPorts(const CliOptions&, Output& out) {
    const auto ports = ListPorts(kLastPort);
    std::string denied; // "COM1, COM3"
    std::string groups; // "dialout" or "dialout,uucp", as usermod takes them
    for (const auto& [name, device] : ports) {
        if (out.json())
            out.line(JsonLine().str("type", "port").str("port", name).str("device", device));
        else
            out.line(name + ' ' + device);
        if (const auto group = DeniedGroup(device)) {
            denied += (denied.empty() ? "" : ", ") + name;
            if (("," + groups + ",").find("," + *group + ",") == std::string::npos)
                groups += (groups.empty() ? "" : ",") + *group;
        }
    }
    // Once for all of them: what the user does about it is the same.
    if (!denied.empty())
        out.message("readerdesk-cli: " + denied +
                    ": permission denied; the user needs the group that owns the device (" + groups +
                    "): sudo usermod -aG " + groups + " \"$USER\", then log in again");
    if (ports.empty()) {
        out.message("no serial ports");
        return kExitNoReader;
    }
    return kExitOk;
}

int RunScan(const CliOptions& o, Output& out, TrafficLog& log) {
    Session s(o, out, log);
    if (!s.connect(kAnyReader, false))
        return kExitNoReader;
    const ReaderRow& row = *s.row();
    if (out.json()) {
        out.line(JsonLine()
                     .str("type", "reader")
                     .str("port", s.port())
                     .str("identifier", row.identifier)
                     .str("kind", GroupName(row.group))
                     .str("reply", Latin1ToUtf8(s.probeAnswer())));
    } else {
        out.line(s.port() + ' ' + row.identifier);
    }
    return kExitOk;
}

int RunSend(const CliOptions& o, Output& out, TrafficLog& log) {
    const std::string command = SendText(o);
    Session s(o, out, log);
    if (!s.connect(kAnyReader))
        return kExitNoReader;
    try {
        if (!s.send(command))
            return kExitNoReader;
    } catch (const CommandTooLong& e) {
        out.message(e.what());
        return kExitUsage;
    }
    int answers = 0;
    s.pump(Clock::now() + milliseconds(o.waitMs), [&](const std::string& a) {
        ++answers;
        PrintAnswer(out, a, false, false);
        return true;
    });
    if (answers == 0) {
        s.note("no answer within " + std::to_string(o.waitMs) + " ms");
        return kExitNoReader;
    }
    return kExitOk;
}

int RunInventory(const CliOptions& o, Output& out, TrafficLog& log) {
    Session s(o, out, log);
    if (!s.connect(k900Reader))
        return kExitNoReader;

    InventoryTally tally;
    const auto start = Clock::now();
    s.send(proto::KelmEpcInventoryTime(o.q, o.c, o.n));
    if (o.cycles == 0 && o.seconds == 0 && !out.json())
        out.message("inventory running; Ctrl+C stops it");

    // The run: until its cycles have begun, its time is up or Ctrl+C.
    const auto runEnd =
        o.seconds > 0
            ? start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds))
            : Clock::time_point::max();
    bool endedByReader = false;
    const WaitEnd run = s.pump(runEnd, [&](const std::string& a) {
        const std::string keyword = tally.take(a);
        if (keyword == "STOP_INVENTORY") {
            endedByReader = true;
            return false;
        }
        return !(o.cycles > 0 && tally.cycles() >= uint64_t(o.cycles));
    });

    // The stop: "EPC_STOP" now and every 100 ms until "STOP_INVENTORY", for at most 3 s. A
    // further Ctrl+C gives it up.
    // The run's figures are taken here, before any stop: the wait for its confirmation (up to
    // 3 s) is no part of the run.
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = seconds > 0 ? double(tally.reads()) / seconds : 0.0;

    bool confirmed = endedByReader;
    bool lost = run == WaitEnd::Lost;
    if (run == WaitEnd::Interrupted)
        s.note("interrupted: stopping the inventory");
    if (endedByReader)
        s.note("the reader ended the inventory");
    if (!confirmed && !lost) {
        const StopEnd end =
            StopInventory(s, [&](const std::string& a) { return tally.take(a) == "STOP_INVENTORY"; });
        confirmed = end == StopEnd::Confirmed;
        lost = end == StopEnd::Lost;
    }
    if (lost && !confirmed)
        s.note("no EPC_STOP could be sent: the reader may still be running the inventory");
    const char* stop = endedByReader ? "ended by the reader" : confirmed ? "confirmed" : "not confirmed";
    const uint64_t lostBytes = s.reportLostBytes();

    PrintInventory(out, tally, {seconds, rate, stop, lostBytes});
    // Counts short of what the reader sent are no clean run.
    return confirmed && lostBytes == 0 ? kExitOk : kExitNoReader;
}

int RunSensors(const CliOptions& o, Output& out, TrafficLog& log) {
    Session s(o, out, log);
    if (!s.connect(kSensorReader))
        return kExitNoReader;

    // The collection, as the sensor-tag monitor sends it, until "collection_stop".
    s.send(proto::SendCopCollection(kCollectionWindowSize, kCollectionMaxPacketLength, kCollectionUdbTypeCode,
                                    kCollectionTimeOutMs));
    bool started = false;
    bool stopped = false;
    const auto collectionEnd =
        Clock::now() + milliseconds(std::atoi(kCollectionTimeOutMs) + kCollectionGraceMs);
    WaitEnd w = s.pump(collectionEnd, [&](const std::string& a) {
        const std::string keyword = GetAnswerWord(2, a);
        started = started || keyword == "collection_start..";
        stopped = keyword == "collection_stop";
        return !stopped;
    });
    if (w == WaitEnd::Interrupted || w == WaitEnd::Lost)
        return kExitNoReader;
    if (!started && !stopped) {
        s.note("no answer to the collection");
        return kExitNoReader;
    }
    if (!stopped)
        s.note("the collection did not end; reading the tags anyway");

    // The three reads, one after the other: the first "UID" or "NO_ACK" after a read answers it.
    bool allAnswered = true;
    const std::vector<std::string>& ids = proto::SawTagIds();
    for (int i = 0; i < int(ids.size()); ++i) {
        const std::string& id = ids[std::size_t(i)];
        // The sensor-tag monitor's read: the 433 MHz read of the tag, with its closing blank.
        const std::size_t dash = id.find('-');
        s.send(proto::SendCopReadUserId(std::string_view(id).substr(0, dash),
                                        dash == std::string::npos ? std::string_view()
                                                                  : std::string_view(id).substr(dash + 1)) +
               ' ');
        std::string keyword;
        std::string record;
        w = s.pump(Clock::now() + milliseconds(kSensorReadWaitMs), [&](const std::string& a) {
            keyword = GetAnswerWord(2, a);
            if (keyword == "UID") {
                record = GetAnswerWord(3, a);
                return false;
            }
            return keyword != "NO_ACK";
        });
        if (w == WaitEnd::Interrupted || w == WaitEnd::Lost)
            return kExitNoReader;

        JsonLine j;
        j.str("type", "sensor").str("id", id);
        std::string text = "ID:" + id + "  ";
        if (w != WaitEnd::Done) {
            allAnswered = false;
            j.str("status", "no answer");
            text += "no answer";
        } else if (keyword == "NO_ACK") {
            j.str("status", "NO_ACK");
            text += "NO_ACK";
        } else {
            const proto::SawRecord r = proto::DecodeSawRecord(record);
            if (r.tag != i) {
                j.str("status", "other record");
                text += "other record: " + TerminalText(record);
            } else if (!r.complete) {
                j.str("status", "short record").num("length", r.length);
                text = TerminalText(proto::SawShortRecordLine(r));
            } else {
                j.str("status", "ok").num("T", r.t).num("H", r.h);
                text = TerminalText(proto::SawIdLine(r));
                if (r.tag == 2) {
                    j.num("cf", r.cf).num("mf", r.mf).num("df", r.df);
                    text += "  " + Trimmed(proto::SawFrequencyLine(r));
                }
            }
            j.str("record", Latin1ToUtf8(record));
        }
        if (out.json())
            out.line(j);
        else
            out.line(text);
    }
    return allAnswered ? kExitOk : kExitNoReader;
}

int RunMonitor(const CliOptions& o, Output& out, TrafficLog& log) {
    Session s(o, out, log);
    if (!s.connect(kAnyReader))
        return kExitNoReader;
    const auto end = o.seconds > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(o.seconds))
                                   : Clock::time_point::max();
    int64_t answers = 0;
    const WaitEnd w = s.pump(end, [&](const std::string& a) {
        PrintAnswer(out, a, true, o.hex);
        ++answers;
        return true;
    });
    // Answers missing from what was printed: said, summed up and not a success.
    if (const uint64_t lost = s.reportLostBytes(); lost > 0) {
        if (out.json())
            out.line(
                JsonLine().str("type", "summary").num("answers", answers).num("lost_bytes", int64_t(lost)));
        return kExitNoReader;
    }
    return w == WaitEnd::Lost ? kExitNoReader : kExitOk;
}

int RunCommand(const CliOptions& o, Output& out, TrafficLog& log) {
    // Refused before anything is opened: it could never be sent.
    if (const std::string why = CheckComposedCommands(o); !why.empty()) {
        out.message(why);
        return kExitUsage;
    }
    switch (o.command) {
    case Command::Ports:
        return RunPorts(o, out);
    case Command::Scan:
        return RunScan(o, out, log);
    case Command::Send:
        return RunSend(o, out, log);
    case Command::Inventory:
        return RunInventory(o, out, log);
    case Command::Sensors:
        return RunSensors(o, out, log);
    case Command::Monitor:
        return RunMonitor(o, out, log);
    case Command::Replay:
        return RunReplay(o, out);
    case Command::Sweep:
        return RunSweep(o, out, log);
    case Command::None:
        break;
    }
    return kExitUsage;
}

} // namespace rd::cli
