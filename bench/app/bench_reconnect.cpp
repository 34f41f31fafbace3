// A simulated reader is unplugged and plugged in again under the same COM name while the
// real window, shown on the offscreen platform, runs its own event loop. Prints the time
// from the replugged port's appearance to the first answer routed after it: the mean over
// the cycles and the longest. The cycles plug in again at different moments after the
// loss was shown (0, 200, 400 ... ms), since the window tries the port once a second.
#include "bench_window_support.h"
#include "link/serial_port.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    rd::sim::TempPortDir dir;
    const rd::sim::Options o = rd::bench::Reader900OnCom1(dir.path());
    std::optional<rd::sim::ReaderSim> reader;
    reader.emplace(o);
    rd::SetPortDirectory(dir.path());

    rd::TFormQUOR w;
    if (!rd::bench::ShowConnected(w, "bench_reconnect"))
        return 1;
    // Runs the window's event loop until pred holds; false after timeoutMs.
    auto runUntil = [&](const std::function<bool()>& pred, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (!pred()) {
            if (t.elapsed() > timeoutMs)
                return false;
            app.processEvents(QEventLoop::WaitForMoreEvents); // TimerMAIN ticks every 20 ms
        }
        return true;
    };
    auto idle = [&](int ms) { runUntil([] { return false; }, ms); };
    idle(200);

    double totalMs = 0;
    double longestMs = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        reader->hangUp();
        if (!runUntil([&] { return w.LabelCOM_PORT_STATUS->text().endsWith(": connection lost"); }, 5000)) {
            std::fprintf(stderr, "bench_reconnect: the loss was never shown\n");
            return 1;
        }
        reader.reset();
        idle((cycle * 200) % 1000);

        reader.emplace(o); // the port appears
        QElapsedTimer since;
        since.start();
        const uint64_t before = w.answersRouted();
        bool sent = false;
        const bool routed = runUntil(
            [&] {
                if (!sent && w.connected()) {
                    w.SendStringLine(QStringLiteral("01"), QStringLiteral("GET_ADC "));
                    sent = true;
                }
                return w.answersRouted() > before;
            },
            10000);
        if (!routed) {
            std::fprintf(stderr, "bench_reconnect: no answer after the reader came back\n");
            return 1;
        }
        const double ms = double(since.nsecsElapsed()) / 1e6;
        totalMs += ms;
        longestMs = std::max(longestMs, ms);
    }

    std::printf("reconnect_ms %.0f ms\n", totalMs / cycles);
    std::printf("reconnect_ms_longest %.0f ms\n", longestMs);
    return 0;
}
