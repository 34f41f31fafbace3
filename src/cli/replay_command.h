// readerdesk-cli replay FILE: the inventory summary of a recorded session, counted as the
// inventory command counts, without a reader.
#pragma once

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/inventory_tally.h"

#include "protocol/recording.h"

namespace rd::cli {

// Every answer of the recording counted; the runs' time summed. A run begins with an inventory
// start ("KELM_EPC_INVENTORY_TIME") or, where none was recorded (monitor output), with its
// first inventory answer, and ends with its first "EPC_STOP" (the wait for the confirmation is
// no part of it, as for inventory), with a "STOP_INVENTORY" that came without a stop, or with
// the recording's last inventory answer. The stop told is that of the last run: "confirmed",
// "ended by the reader", "not confirmed" (stopped, no "STOP_INVENTORY" recorded) or "still
// running" (the recording ends during the run). reads/s: the reads within the runs' time.
struct RecordedRuns {
    InventoryTally tally;
    RunFigures figures;
};
RecordedRuns TallyRecording(const proto::Recording& r);

// Reads o.recording and prints its summary; 2 when it cannot be read (the line said).
int RunReplay(const CliOptions& o, Output& out);

} // namespace rd::cli
