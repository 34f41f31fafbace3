// What the window benchmarks set up alike: a simulated 900 MHz reader on COM1 of a port
// folder of their own, the real window shown and connected to it, and the event loop run
// for a while.
#pragma once

#include "app/window/main_window.h"
#include "sim/reader_sim.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>

#include <cstdio>
#include <string>

namespace rd::bench {

// A simulated VKR900-15 published as COM1 in portDir.
inline sim::Options Reader900OnCom1(const std::string& portDir) {
    sim::Options o;
    o.identifier = "VKR900-15";
    o.portDir = portDir;
    o.comNumber = 1;
    return o;
}

// Shows the window and starts it; false, with a line on stderr naming the benchmark, when
// it finds no reader.
inline bool ShowConnected(TFormQUOR& w, const char* benchName) {
    w.show();
    w.BF_START();
    if (!w.connected()) {
        std::fprintf(stderr, "%s: no reader found\n", benchName);
        return false;
    }
    return true;
}

// Brings the page with this object name to the front of its tab widget; false when there is none.
inline bool ShowPage(TFormQUOR& w, const std::string& objectName) {
    for (QTabWidget* tabs : w.findChildren<QTabWidget*>())
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->objectName() == QString::fromStdString(objectName)) {
                tabs->setCurrentIndex(i);
                return true;
            }
    return false;
}

// Handles the application's events for ms milliseconds.
inline void RunEventsFor(QApplication& app, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        app.processEvents(QEventLoop::AllEvents, 10);
}

} // namespace rd::bench
