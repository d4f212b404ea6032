#include "console.h"
#include "exitstatus.h"
#include "recorder.h"
#include "subcommand.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>

namespace {

const SubcommandHelp Help{
    "record", "[options] PORT...",
    "Records one row per telemetry frame from one or more boards, decoded as the window\n"
    "decodes them, as CSV or JSON Lines. Each row names its port and the time its frame\n"
    "arrived (UTC). Rows go to standard output unless -o names a file. Board text that\n"
    "is not telemetry goes to standard error (or --text FILE), one line at a time with\n"
    "its time and port. Ctrl+C or SIGTERM ends the run; a summary goes to standard\n"
    "error. When standard error is a terminal, a status line shows the time, frames\n"
    "accepted and rejected per port, text lines and the last frame's cell voltages.\n"
    "A port that vanishes is recorded again once it is back.",
    "Columns, in this order (CSV header; the keys in JSON Lines):\n"
    "  time port layout cell1_mV..cell15_mV battery_mV pack_mV current_mA soc_pct\n"
    "  ntc1_C ntc2_C ntc3_C self_discharge_C mosfet_C cycles bq_status system_state\n"
    "  bms_state system_state_text bms_state_text oc sc ovb ov uv low_temp high_temp\n"
    "  version model cell_type manufacture_date\n"
    "Fields that a layout 1 board does not send are empty (CSV) or null (JSON).\n"
    "\n"
    "Examples:\n"
    "  keldro-cli record --poll /dev/ttyUSB0 -o charge.csv\n"
    "  keldro-cli record ttyUSB0 ttyUSB1 --duration 3600 -o night.jsonl --text night.log\n"
    "  keldro-cli record ttyUSB0 --format jsonl --count 1 | jq .soc_pct\n"};

struct Options
{
    QCommandLineOption baud{QStringLiteral("baud"), QStringLiteral("Baud rate (default 115200)."),
                            QStringLiteral("N"), QStringLiteral("115200")};
    QCommandLineOption poll{QStringLiteral("poll"),
                            QStringLiteral("Ask every board for a frame every 100 ms, for boards "
                                           "that send only when asked.")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Write the rows to FILE (replaced if it exists) "
                                             "instead of standard output."),
                              QStringLiteral("FILE")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("csv or jsonl. Default: by the extension of -o "
                                             "(.csv; .jsonl, .ndjson, .json), csv on standard "
                                             "output."),
                              QStringLiteral("csv|jsonl")};
    QCommandLineOption duration{QStringLiteral("duration"),
                                QStringLiteral("Stop after SECONDS (decimals allowed)."),
                                QStringLiteral("SECONDS")};
    QCommandLineOption count{QStringLiteral("count"),
                             QStringLiteral("Stop after N rows, all ports together."),
                             QStringLiteral("N")};
    QCommandLineOption text{QStringLiteral("text"),
                            QStringLiteral("Write the boards' text lines to FILE (appended) "
                                           "instead of standard error."),
                            QStringLiteral("FILE")};
    QCommandLineOption noReconnect{QStringLiteral("no-reconnect"),
                                   QStringLiteral("End the run with exit status 1 when a port "
                                                  "vanishes, instead of waiting for it.")};
};

// Opens a file for the run. Unbuffered: the recorder hands over whole rows itself.
bool openOutput(QFile &file, QIODevice::OpenMode mode)
{
    if (file.open(mode | QIODevice::Unbuffered))
        return true;
    Console::error(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    return false;
}

} // namespace

int runRecord(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options;
    parser.addOptions({options.baud, options.poll, options.output, options.format, options.duration,
                       options.count, options.text, options.noReconnect});
    parser.addPositionalArgument(QStringLiteral("PORT"),
                                 QStringLiteral("ttyUSB0, /dev/ttyUSB0 or the path of a device "
                                                "such as a simulator's pseudo-terminal."),
                                 QStringLiteral("PORT..."));
    if (const auto status = parseSubcommand(parser, arguments, Help))
        return *status;

    RecordSettings settings;
    const QStringList ports = parser.positionalArguments();
    if (ports.isEmpty())
        return usageError(Help, QStringLiteral("name at least one port"));
    for (const QString &argument : ports) {
        const PortTarget target = PortTarget::fromArgument(argument);
        for (const PortTarget &earlier : qAsConst(settings.ports))
            if (earlier.path == target.path)
                return usageError(Help, QStringLiteral("%1 is named twice").arg(argument));
        settings.ports.append(target);
    }

    bool ok = false;
    settings.baudRate = parser.value(options.baud).toInt(&ok);
    if (!ok || settings.baudRate <= 0)
        return usageError(
            Help,
            QStringLiteral("--baud: \"%1\" is not a rate above 0").arg(parser.value(options.baud)));
    if (parser.isSet(options.duration)) {
        const double seconds = parser.value(options.duration).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 1e9)
            return usageError(Help, QStringLiteral("--duration: \"%1\" is not a number of "
                                                   "seconds above 0")
                                        .arg(parser.value(options.duration)));
        settings.durationMs = qint64(seconds * 1000 + 0.5);
    }
    if (parser.isSet(options.count)) {
        settings.count = parser.value(options.count).toLongLong(&ok);
        if (!ok || settings.count <= 0)
            return usageError(Help, QStringLiteral("--count: \"%1\" is not a number above 0")
                                        .arg(parser.value(options.count)));
    }
    const QString outputPath = parser.value(options.output);
    if (parser.isSet(options.format)) {
        const QString format = parser.value(options.format);
        if (format == QLatin1String("csv"))
            settings.format = RecordFormat::Csv;
        else if (format == QLatin1String("jsonl") || format == QLatin1String("json"))
            settings.format = RecordFormat::JsonLines;
        else
            return usageError(
                Help, QStringLiteral("--format: \"%1\" is neither csv nor jsonl").arg(format));
    } else if (!outputPath.isEmpty()) {
        const auto byName = recordFormatForPath(outputPath);
        if (!byName)
            return usageError(Help, QStringLiteral("cannot tell the format from the name %1; "
                                                   "add --format csv or --format jsonl")
                                        .arg(outputPath));
        settings.format = *byName;
    }
    settings.poll = parser.isSet(options.poll);
    settings.reconnect = !parser.isSet(options.noReconnect);

    for (const PortTarget &target : qAsConst(settings.ports)) {
        if (const QString problem = target.problem(); !problem.isEmpty()) {
            Console::error(problem);
            return CannotStart;
        }
    }
    // The files before the ports, so that a run that cannot keep its rows never
    // touches a board.
    QFile rows;
    const bool newFile = !outputPath.isEmpty() && !QFileInfo::exists(outputPath);
    if (outputPath.isEmpty()) {
        if (!rows.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered))
            return CannotStart;
    } else {
        rows.setFileName(outputPath);
        if (!openOutput(rows, QIODevice::WriteOnly | QIODevice::Truncate))
            return CannotStart;
    }
    QFile text(parser.value(options.text));
    const bool newTextFile = parser.isSet(options.text) && !text.exists();
    // What a run that never started has created goes again.
    auto removeNewFiles = [&] {
        if (newFile)
            rows.remove();
        if (newTextFile)
            text.remove();
    };
    if (parser.isSet(options.text) && !openOutput(text, QIODevice::WriteOnly | QIODevice::Append)) {
        removeNewFiles();
        return CannotStart;
    }

    // A closed pipe shows as a failed write (EPIPE), which ends the run like Ctrl+C; a
    // file over the size limit as one (EFBIG), which ends it like a full disk.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    const QString rowsName = outputPath.isEmpty() ? QStringLiteral("standard output") : outputPath;
    Recorder recorder(settings, &rows, rowsName, parser.isSet(options.text) ? &text : nullptr);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &recorder,
                     [&recorder] { recorder.finish(Done); });
    QObject::connect(&recorder, &Recorder::finished, qApp, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    if (!recorder.start()) {
        rows.close();
        text.close();
        removeNewFiles();
        return CannotStart;
    }
    return QCoreApplication::exec();
}
