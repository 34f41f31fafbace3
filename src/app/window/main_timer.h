// The pace of TimerMAIN, which several parts of the window set.
#pragma once

namespace rd {

// At start-up: the clock of the antenna test page runs.
constexpr int kMainIntervalStart = 10;
// While a scan runs and just after a reader was found.
constexpr int kMainIntervalScan = 1000;
// While a reader is connected: its answers are polled.
constexpr int kMainIntervalConnected = 20;

} // namespace rd
