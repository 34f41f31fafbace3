// readerdesk: the program. Parses the command line, sets up the port names, shows the
// main window (and creates the hidden port selection dialog) and runs the event loop.
// SIGTERM, SIGHUP and SIGINT close the window as the user would (a second one is not caught):
// the settings are written and a reader left running an inventory is stopped.
#include "app/window/com_select.h"
#include "app/window/command_line.h"
#include "app/window/main_window.h"
#include "kit/errors.h"
#include "kit/settings.h"
#include "link/serial_port.h"

#include <QApplication>

#include <cstdio>
#include <memory>

#ifndef _WIN32
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
// The signal handler's end of a socket pair; the event loop reads the other end.
int g_signalWrite = -1;

void onCloseSignal(int sig) {
    const unsigned char c = static_cast<unsigned char>(sig);
    const ssize_t n = ::write(g_signalWrite, &c, 1);
    (void)n;
}

// Calls close with the signal's number, on the event loop, for SIGTERM, SIGHUP and SIGINT.
class CloseOnSignals {
  public:
    template <class Fn> explicit CloseOnSignals(Fn close) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return;
        read_ = fds[0];
        g_signalWrite = fds[1];
        notifier_ = std::make_unique<QSocketNotifier>(read_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, close] {
            unsigned char c = 0;
            if (::read(read_, &c, 1) == 1)
                close(int(c));
        });
        struct sigaction sa {};
        sa.sa_handler = onCloseSignal;
        sigemptyset(&sa.sa_mask);
        // A second signal does what it would have done: a hung close can still be ended.
        sa.sa_flags = SA_RESTART | SA_RESETHAND;
        for (int sig : {SIGTERM, SIGHUP, SIGINT})
            ::sigaction(sig, &sa, nullptr);
    }

  private:
    int read_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};
#endif

// -1: go on; otherwise the exit code, after the message has been printed.
int answerAtOnce(const rd::CommandLine& cl) {
    if (cl.exitCode >= 0)
        std::fputs(cl.message.toLocal8Bit().constData(), cl.exitCode == 0 ? stdout : stderr);
    return cl.exitCode;
}
} // namespace

int main(int argc, char** argv) {
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    if (const int code = answerAtOnce(rd::ParseCommandLine(rd::OwnArguments(raw))); code >= 0)
        return code;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ReaderDesk"));
    // The installed desktop entry (readerdesk.desktop): its name and icon go with the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("readerdesk"));
    bool bySignal = false;
#ifndef _WIN32
    // As the window's close: the event loop ends (after a scan under way: no window is asked,
    // as a scan refuses a close). No box waits for a user who may be gone.
    CloseOnSignals closeOnSignals([&bySignal](int) {
        bySignal = true;
        QCoreApplication::exit(0);
    });
#endif

    // What the toolkit left: anything it did not know is still here.
    const rd::CommandLine cl = rd::ParseCommandLine(QApplication::arguments());
    if (const int code = answerAtOnce(cl); code >= 0)
        return code;

    // Without the option the link layer takes READERDESK_PORT_DIR, else the machine's ports.
    if (!cl.portDir.isEmpty())
        rd::SetPortDirectory(cl.portDir.toStdString());

    rd::SetSettingsEnabled(!cl.noSettings);
    rd::TFormQUOR form;
    if (!cl.trafficLog.isEmpty()) {
        try {
            form.setTrafficLog(cl.trafficLog);
        } catch (const rd::AppError& e) {
            std::fprintf(stderr, "readerdesk: %s\n", e.what());
            return 2;
        }
    }
    rd::TFormCOM_SELECT comSelect(&form);
    comSelect.hide();

    // What the user left last time, before the window is first shown; the command line wins.
    form.move(0, 0);
    form.restoreSettings();
    if (!cl.netHost.isEmpty())
        form.setNetAddress(cl.netHost, cl.netPort, cl.scan);
    form.show();
    if (cl.scan)
        form.scanWhenShown();
    int code = app.exec();
    if (bySignal)
        rd::SetErrorSink(
            [](const QString& m) { std::fprintf(stderr, "readerdesk: %s\n", m.toLocal8Bit().constData()); });
    form.saveSettings();
    // Lines of the traffic log were lost (the window said so when it happened).
    if (code == 0 && form.trafficLogFailed())
        code = 1;
    return code;
}
