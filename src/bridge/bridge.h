// readerdesk-bridge as a whole: the readers found, one ReaderWorker each, until a stop request
// (SIGINT, SIGTERM, SIGHUP) or a refusal of the broker.
#pragma once

#include "bridge/bridge_options.h"

namespace rd::bridge {

// Runs the bridge; returns the exit code. Messages go to standard error, events to the json log.
int RunBridge(const BridgeOptions& options);

} // namespace rd::bridge
