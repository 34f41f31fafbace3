// A simulated 900 MHz reader floods inventory answers; the real window, shown on the
// offscreen platform, takes them with its own TimerMAIN. Prints how many answers a
// second went through all four answer handlers, and the longest gap in the event loop
// seen by a 1 ms timer meanwhile.
#include "main_window.h"
#include "reader_sim.h"
#include "serial_port.h"

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
    rd::sim::Options o;
    o.identifier = "VKR900-15";
    o.portDir = dir.path();
    o.comNumber = 1;
    rd::sim::ReaderSim reader(o);
    rd::SetPortDirectory(dir.path());

    rd::TFormQUOR w;
    w.show();
    w.BF_START();
    if (!w.connected()) {
        std::fprintf(stderr, "bench_window_routing: no reader found\n");
        return 1;
    }
    // Let the window settle at its connected polling rate.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        app.processEvents(QEventLoop::AllEvents, 10);

    reader.startFlood();
    // Warm-up, then measure.
    settle.restart();
    while (settle.elapsed() < 500)
        app.processEvents(QEventLoop::AllEvents, 10);

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
