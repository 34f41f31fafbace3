// The real main window for the tool pages' tests: errors collected instead of shown,
// a fixed clock, save dialogs answered by the test, and, when a test needs the wire,
// a simulated reader on COM1 of a private port directory.
#pragma once

#include <stdexcept>

#include "app/window/main_window.h"
#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/line_list.h"
#include "kit/shell.h"
#include "kit/widgets.h"
#include "link/serial_port.h"
#include "sim/reader_sim.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace rd::testing {

inline QTime FixedTime() {
    return QTime(12, 34, 56);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetErrorSink([this](const QString& m) { errors.append(m); });
        SetClockForTesting([] { return QDateTime(QDate(2024, 5, 6), FixedTime()); });
        SetSaveDialogForTesting([this](const QString& name, const QString& suggested) {
            dialogs.append(name + QLatin1Char('|') + suggested);
            return savePath;
        });
    }
    void TearDown() override {
        window.reset();
        sim.reset();
        SetSaveDialogForTesting({});
        SetClockForTesting({});
        SetErrorSink({});
    }

    TFormQUOR& form() {
        if (!window)
            window = std::make_unique<TFormQUOR>();
        return *window;
    }

    // A window connected through discovery to a simulated reader on COM1.
    TFormQUOR& connectedTo(sim::Options options) {
        options.portDir = ports.path();
        options.comNumber = 1;
        sim = std::make_unique<sim::ReaderSim>(options);
        SetPortDirectory(ports.path());
        form().BF_START();
        EXPECT_TRUE(form().connected());
        sentBefore_ = sim->commands().size();
        return form();
    }

    // Command texts the simulated reader received since the connection was made.
    std::vector<std::string> sent() const {
        const auto all = sim->commands();
        return std::vector<std::string>(all.begin() + std::ptrdiff_t(sentBefore_), all.end());
    }
    bool waitForSent(std::size_t n) { return sim->waitForRequests(sentBefore_ + n, 3000); }

    // A control of the window by its name; a missing one fails the test.
    template <class T> T* c(const char* name) {
        T* control = form().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << "control " << name << " missing";
        if (!control)
            throw std::runtime_error(std::string("control missing: ") + name);
        return control;
    }
    TMemo* memo(const char* name) { return c<TMemo>(name); }
    QString text(const char* labelName) { return c<QLabel>(labelName)->text(); }
    bool enabled(const char* name) { return c<QWidget>(name)->isEnabled(); }
    void click(const char* buttonName) { c<QAbstractButton>(buttonName)->click(); }
    QColor fontColor(const char* name) { return FontColor(c<QWidget>(name)); }

    QStringList errors;
    QStringList dialogs;
    QString savePath;
    sim::TempPortDir ports;
    std::unique_ptr<sim::ReaderSim> sim;
    std::unique_ptr<TFormQUOR> window;

  private:
    std::size_t sentBefore_ = 0;
};

// The time of day as the pages write it.
inline QString FixedTimeText() {
    return TimeText(FixedTime());
}

} // namespace rd::testing
