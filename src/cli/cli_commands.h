// The commands of readerdesk-cli. Each returns the program's exit code.
#pragma once

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/session.h"

#include <string>

namespace rd::cli {

enum ExitCode { kExitOk = 0, kExitNoReader = 1, kExitUsage = 2 };

// The inventory start parameters and the collection parameters are the start texts of the
// 900 MHz and 433 MHz pages' boxes.
inline constexpr const char* kCollectionWindowSize = "16";
inline constexpr const char* kCollectionMaxPacketLength = "48";
inline constexpr const char* kCollectionUdbTypeCode = "11";
inline constexpr const char* kCollectionTimeOutMs = "3000";

// A stop is repeated every kStopRetryMs and given up kStopGiveUpMs after the first, as the
// window does.
inline constexpr int kStopRetryMs = 100;
inline constexpr int kStopGiveUpMs = 3000;
// How long a sensor-tag read waits for its "UID" or "NO_ACK" answer, and how much longer
// than its own time-out a collection may take to end.
inline constexpr int kSensorReadWaitMs = 3000;
inline constexpr int kCollectionGraceMs = 2000;

// Why a command text the command would compose cannot be sent (too long for a frame); ""
// when all fit. Checked before any port is opened.
std::string CheckComposedCommands(const CliOptions& o);

// The readers a command can work with.
extern const ReaderWanted k900Reader;

int RunPorts(const CliOptions& o, Output& out);
int RunScan(const CliOptions& o, Output& out, TrafficLog& log);
int RunSend(const CliOptions& o, Output& out, TrafficLog& log);
int RunInventory(const CliOptions& o, Output& out, TrafficLog& log);
int RunSensors(const CliOptions& o, Output& out, TrafficLog& log);
int RunMonitor(const CliOptions& o, Output& out, TrafficLog& log);
// cli_sweep.cpp
int RunSweep(const CliOptions& o, Output& out, TrafficLog& log);

int RunCommand(const CliOptions& o, Output& out, TrafficLog& log);

} // namespace rd::cli
