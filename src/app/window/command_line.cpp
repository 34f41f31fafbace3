#include "app/window/command_line.h"

#include <QFileInfo>

namespace rd {

QString UsageText(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [--port-dir DIR] [--scan] [--net HOST[:PORT]] [--traffic-log FILE] "
               "[--no-settings]\n"
               "  or:  %1 --help | --version\n"
               "\n"
               "ReaderDesk: service and test tool for RFID readers on serial ports.\n"
               "\n"
               "Options:\n"
               "  --port-dir DIR        COM1 to COM20 are the entries DIR/COM1 .. DIR/COM20 (links to\n"
               "                        serial devices or pseudo-terminals); without it, the\n"
               "                        environment variable READERDESK_PORT_DIR, else the machine's\n"
               "                        serial ports in a fixed order.\n"
               "  --scan                search for a reader once the window is shown, as the \"COM\"\n"
               "                        button of the UTIL page does.\n"
               "  --net HOST[:PORT]     a reader behind a serial device server (raw TCP, port 2000\n"
               "                        when left out): HOST and PORT stand in the NET boxes of the\n"
               "                        UTIL page, and --scan tries tcp://HOST:PORT before COM1.\n"
               "  --traffic-log FILE    append every request, answer and discovery message to FILE,\n"
               "                        each line with the date and time (to the millisecond) in front.\n"
               "  --no-settings         start with the defaults and keep nothing for the next run\n"
               "                        (the boxes' texts, the port, the window and its pages).\n"
               "  -h, --help            show this text and exit.\n"
               "  --version             show the version and exit.\n")
        .arg(program);
}

bool ParseNetAddress(const QString& text, QString& host, int& port) {
    QString h;
    QString rest;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        h = text.mid(1, close - 1);
        rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        if (colon >= 0 && text.indexOf(QLatin1Char(':'), colon + 1) >= 0)
            return false; // an IPv6 address needs its brackets
        h = colon < 0 ? text : text.left(colon);
        rest = colon < 0 ? QString() : text.mid(colon);
    }
    int p = 2000;
    if (!rest.isEmpty()) {
        const QString digits = rest.mid(1);
        bool ok = false;
        p = digits.toInt(&ok);
        if (!ok || digits.isEmpty() || !digits.front().isDigit() || p < 1 || p > 65535)
            return false;
    }
    if (h.isEmpty() || h.contains(QLatin1Char(' ')) || h.contains(QLatin1Char('/')))
        return false;
    host = h;
    port = p;
    return true;
}

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine cl;
    const QString program =
        args.isEmpty() ? QStringLiteral("readerdesk") : QFileInfo(args.first()).fileName();
    auto fail = [&](const QString& why) {
        cl.exitCode = 2;
        cl.message = QStringLiteral("%1: %2\nTry '%1 --help' for the options.\n").arg(program, why);
        return cl;
    };
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        QString name = a;
        QString value;
        bool inlineValue = false;
        if (a.startsWith(QLatin1String("--"))) {
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            if (eq > 0) {
                name = a.left(eq);
                value = a.mid(eq + 1);
                inlineValue = true;
            }
        }
        const bool takesValue = name == QLatin1String("--port-dir") ||
                                name == QLatin1String("--traffic-log") || name == QLatin1String("--net");
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("option '%1' needs a value").arg(name));
            value = args[++i];
        }
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            if (inlineValue)
                return fail(QStringLiteral("option '%1' takes no value").arg(name));
            cl.exitCode = 0;
            cl.message = UsageText(program);
            return cl;
        } else if (name == QLatin1String("--version")) {
            if (inlineValue)
                return fail(QStringLiteral("option '%1' takes no value").arg(name));
            cl.exitCode = 0;
            cl.message = QStringLiteral("%1 %2\n").arg(program, QStringLiteral(READERDESK_VERSION));
            return cl;
        } else if (name == QLatin1String("--scan")) {
            if (inlineValue)
                return fail(QStringLiteral("option '%1' takes no value").arg(name));
            cl.scan = true;
        } else if (name == QLatin1String("--no-settings")) {
            if (inlineValue)
                return fail(QStringLiteral("option '%1' takes no value").arg(name));
            cl.noSettings = true;
        } else if (name == QLatin1String("--port-dir")) {
            if (value.isEmpty())
                return fail(QStringLiteral("option '--port-dir' needs a directory"));
            cl.portDir = value;
        } else if (name == QLatin1String("--net")) {
            if (!ParseNetAddress(value, cl.netHost, cl.netPort))
                return fail(QStringLiteral("option '--net' needs HOST or HOST:PORT, not '%1'").arg(value));
        } else if (name == QLatin1String("--traffic-log")) {
            if (value.isEmpty())
                return fail(QStringLiteral("option '--traffic-log' needs a file name"));
            cl.trafficLog = value;
        } else if (a.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unknown option '%1'").arg(name));
        } else {
            return fail(QStringLiteral("unexpected argument '%1'").arg(a));
        }
    }
    return cl;
}

QStringList OwnArguments(const QStringList& rawArgs) {
    QStringList out;
    if (rawArgs.isEmpty())
        return out;
    out << rawArgs.first();
    for (qsizetype i = 1; i < rawArgs.size(); ++i) {
        const QString& a = rawArgs[i];
        if (!a.startsWith(QLatin1String("--")) && a != QLatin1String("-h"))
            continue;
        out << a;
        if ((a == QLatin1String("--port-dir") || a == QLatin1String("--traffic-log") ||
             a == QLatin1String("--net")) &&
            i + 1 < rawArgs.size())
            out << rawArgs[++i];
    }
    return out;
}

} // namespace rd
