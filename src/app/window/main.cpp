// readerdesk: the program. Parses the command line, sets up the port names, shows the
// main window (and creates the hidden port selection dialog) and runs the event loop.
#include "app/window/com_select.h"
#include "app/window/command_line.h"
#include "app/window/main_window.h"
#include "kit/errors.h"
#include "kit/settings.h"
#include "link/serial_port.h"

#include <QApplication>

#include <cstdio>

namespace {
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
    const int code = app.exec();
    form.saveSettings();
    return code;
}
