// A window on a private port directory with simulated readers, for the tests that cross
// the link. Answers are routed by firing TimerMAIN by hand and the event loop is not run,
// so no timer ticks on its own and the tests decide when each step happens.
#pragma once

#include "app/window/main_window.h"
#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "link/serial_port.h"
#include "sim/reader_sim.h"

#include <QComboBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace rd::testing {

class SimWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPortDirectory(dir_.path());
        SetErrorSink([this](const QString& m) { errors << m; });
    }

    void TearDown() override {
        window_.reset();
        sims_.clear();
        SetErrorSink({});
        SetPortDirectory(std::string());
    }

    sim::ReaderSim& addReader(const std::string& identifier, int com, sim::Options o = {}) {
        o.identifier = identifier;
        o.portDir = dir_.path();
        o.comNumber = com;
        sims_.push_back(std::make_unique<sim::ReaderSim>(o));
        return *sims_.back();
    }

    // The simulator goes for good, its thread with it.
    void dropReader(sim::ReaderSim& r) {
        std::erase_if(sims_, [&](const auto& s) { return s.get() == &r; });
    }

    TFormQUOR& window() {
        if (!window_)
            window_ = std::make_unique<TFormQUOR>();
        return *window_;
    }

    // Closes the window for good, as the end of the program does.
    void destroyWindow() { window_.reset(); }

    template <class T> T* control(const char* name) {
        T* c = window().findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(c) << name;
        return c;
    }

    TMemo* memo(const char* name) { return control<TMemo>(name); }

    void click(const char* button) { control<QPushButton>(button)->click(); }

    // Connect through the UTIL page's "COM" button.
    void scan() { click("BitBtnUTIL_FIND_COM"); }

    // Fires TimerMAIN until pred holds or the deadline passes.
    bool routeUntil(const std::function<bool()>& pred, int timeoutMs = 3000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            window().TimerMAIN->fire();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Whether some line of the memo equals text.
    static bool has(TMemo* m, const QString& text) { return m->lines()->contains(text); }

    QStringList errors;

  private:
    sim::TempPortDir dir_;
    std::vector<std::unique_ptr<sim::ReaderSim>> sims_;
    std::unique_ptr<TFormQUOR> window_;
};

} // namespace rd::testing
