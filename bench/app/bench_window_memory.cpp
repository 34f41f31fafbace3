// A simulated 900 MHz reader floods inventory answers into the real window (shown on the
// offscreen platform, the inventory log switched off) until two million answers have been
// routed, then prints the resident memory of the whole process.
#include "bench_window_support.h"
#include "link/serial_port.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace {

// VmRSS of this process in megabytes (MiB), from /proc/self/status; -1 when unreadable.
double ResidentMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // A file of /proc has no size: read it whole, not up to atEnd().
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const uint64_t answers = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2'000'000;
    const int limitS = 900;

    rd::sim::TempPortDir dir;
    rd::sim::ReaderSim reader(rd::bench::Reader900OnCom1(dir.path()));
    rd::SetPortDirectory(dir.path());

    rd::TFormQUOR w;
    if (!rd::bench::ShowConnected(w, "bench_window_memory"))
        return 1;
    reader.startFlood();
    QElapsedTimer run;
    run.start();
    while (w.answersRouted() < answers) {
        app.processEvents(QEventLoop::AllEvents, 10);
        if (run.elapsed() > limitS * 1000) {
            std::fprintf(stderr, "bench_window_memory: only %llu answers in %d s\n",
                         static_cast<unsigned long long>(w.answersRouted()), limitS);
            return 1;
        }
    }
    reader.stopFlood();
    // Let the window take what is still on its way and repaint.
    rd::bench::RunEventsFor(app, 300);

    std::printf("rss_mb_after_2m_answers %.0f MB\n", ResidentMb());
    return 0;
}
