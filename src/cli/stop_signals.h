// Ctrl+C and termination requests, counted rather than obeyed at once: a running command
// looks at the count and ends in order (an inventory is stopped with "EPC_STOP" first).
// This is the platform's part of the command line; stop_signals_posix.cpp holds the POSIX
// signals (SIGINT, SIGTERM, SIGHUP), and a Windows build would hold a console control handler.
#pragma once

namespace rd::cli {

// Install before any other thread starts.
void InstallStopSignals();
// How many stop requests have arrived since the start.
int StopRequests();

} // namespace rd::cli
