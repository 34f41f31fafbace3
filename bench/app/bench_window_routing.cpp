// A simulated 900 MHz reader floods inventory answers; the real window, shown on the
// offscreen platform, takes them with its own TimerMAIN. Prints how many answers a
// second went through all four answer handlers, and the longest gap in the event loop
// seen by a 1 ms timer meanwhile.
#include "bench_window_support.h"
#include "link/serial_port.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3;

    rd::sim::TempPortDir dir;
    rd::sim::ReaderSim reader(rd::bench::Reader900OnCom1(dir.path()));
    rd::SetPortDirectory(dir.path());

    rd::TFormQUOR w;
    if (!rd::bench::ShowConnected(w, "bench_window_routing"))
        return 1;
    // Let the window settle at its connected polling rate.
    rd::bench::RunEventsFor(app, 200);

    reader.startFlood();
    // Warm-up, then measure.
    rd::bench::RunEventsFor(app, 500);

    qint64 maxGapNs = 0;
    QElapsedTimer gap;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        maxGapNs = std::max(maxGapNs, gap.nsecsElapsed());
        gap.restart();
    });
    const uint64_t before = w.answersRouted();
    QElapsedTimer run;
    run.start();
    gap.start();
    probe.start();
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();
    probe.stop();
    const double elapsedS = double(run.nsecsElapsed()) / 1e9;
    const uint64_t routed = w.answersRouted() - before;
    reader.stopFlood();

    std::printf("routed_answers_per_s %.0f answers/s\n", double(routed) / elapsedS);
    std::printf("max_event_loop_stall_ms %.1f ms\n", double(maxGapNs) / 1e6);
    return 0;
}
