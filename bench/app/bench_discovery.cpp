// What discovery costs on a port that is there but never answers: a scan over a port
// directory with two silent readers, less a scan over the same directory with none, per
// silent port. Each of its seven probes waits out the whole 501 ms probe window.
#include "app/window/main_window.h"
#include "link/serial_port.h"
#include "sim/reader_sim.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

qint64 scanMs(const std::string& dir, int silentPorts) {
    std::vector<std::unique_ptr<rd::sim::ReaderSim>> readers;
    for (int n = 1; n <= silentPorts; ++n) {
        rd::sim::Options o;
        o.portDir = dir;
        o.comNumber = n;
        o.silent = true;
        readers.push_back(std::make_unique<rd::sim::ReaderSim>(o));
    }
    rd::TFormQUOR w;
    QElapsedTimer t;
    t.start();
    w.BF_START();
    return t.elapsed();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    rd::sim::TempPortDir dir;
    rd::SetPortDirectory(dir.path());

    constexpr int kSilent = 2;
    const qint64 none = scanMs(dir.path(), 0);
    const qint64 silent = scanMs(dir.path(), kSilent);
    std::printf("scan_ms_per_silent_port %.0f ms\n", double(silent - none) / kSilent);
    return 0;
}
