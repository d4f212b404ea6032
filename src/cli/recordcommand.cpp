#include "boardjudges.h"
#include "cli/mqtt/mqttcredentials.h"
#include "console.h"
#include "eventoutput.h"
#include "exitstatus.h"
#include "judgeoptions.h"
#include "mqttfeed.h"
#include "porttarget.h"
#include "recorder.h"
#include "runoptions.h"
#include "subcommand.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <unistd.h>

namespace {

const SubcommandHelp Help{
    "record", "[options] PORT...",
    "Records one row per telemetry frame from one or more boards, decoded as the window\n"
    "decodes them, as CSV or JSON Lines. Each row names its port and the time its frame\n"
    "arrived (UTC). Rows go to standard output unless -o names a file. Board text that\n"
    "is not telemetry goes to standard error (or --text FILE), one line at a time with\n"
    "its time and port. Ctrl+C, SIGTERM or SIGHUP ends the run; a summary goes to\n"
    "standard error. When standard error is a terminal, a status line shows the time,\n"
    "frames accepted and rejected per port, text lines and the last frame's cell\n"
    "voltages. A CSV file appended to (>> day.csv) gets no second header.\n"
    "A port that vanishes is recorded again once it is back; a port on another machine\n"
    "(rfc2217:// or tcp://, served by ser2net) is back when its server answers again.\n"
    "With --mqtt each frame also goes to an MQTT broker, as one JSON object with the\n"
    "keys of JSON Lines; without -o it goes there only.\n"
    "With --limits each frame is judged against the limits file as keldro-cli check\n"
    "judges it, and the events (an alarm raised or cleared, a protection flag, a state\n"
    "change, the link opened, lost, stale or live) go to standard error as text with\n"
    "their time and port, or to --events FILE as JSON Lines. A limits file that does\n"
    "not parse ends the run before it starts (status 2), naming its line and key.",
    "Columns, in this order (CSV header; the keys in JSON Lines):\n"
    "  time port layout cell1_mV..cell15_mV battery_mV pack_mV current_mA soc_pct\n"
    "  ntc1_C ntc2_C ntc3_C self_discharge_C mosfet_C cycles bq_status system_state\n"
    "  bms_state system_state_text bms_state_text oc sc ovb ov uv low_temp high_temp\n"
    "  version model cell_type manufacture_date\n"
    "Fields that a layout 1 board does not send are empty (CSV) or null (JSON).\n"
    "\n"
    "MQTT topics, under the URL's prefix, for each board (the adapter's USB serial\n"
    "number, else HOST_PORT as in labpc_ttyUSB0, or --board-id):\n"
    "  PREFIX/BOARD/telemetry  one JSON object per frame\n"
    "  PREFIX/BOARD/text       the board's text lines\n"
    "  PREFIX/BOARD/status     online / offline, retained; offline also when keldro-cli\n"
    "                          dies (each board's connection has it as its last will)\n"
    "  PREFIX/BOARD/health     the cells' health, the JSON object of keldro-cli health;\n"
    "                          retained, when it changes, at most once a second\n"
    "and with --limits or --events:\n"
    "  PREFIX/BOARD/event      one JSON object per event, as in --events FILE\n"
    "  PREFIX/BOARD/alarm      a JSON array of the texts of the alarms raised now, []\n"
    "                          for none; retained, from the connection on\n"
    "Without them the alarm topic is cleared, so that no earlier run's alarm stands.\n"
    "--ha-discovery configs follow the board's layout (no BAT_NTC3, flags or cells\n"
    "10-15 for layout 1) and remove the entities a run does not offer.\n"
    "The user name and password come from KELDRO_MQTT_USER and KELDRO_MQTT_PASSWORD,\n"
    "or from --mqtt-auth FILE (lines user=NAME and password=SECRET), never from the\n"
    "command line. While the broker is away messages wait, up to --mqtt-queue per\n"
    "board, and go out in order when it answers; past that the oldest are dropped and\n"
    "counted. A broker that refuses the credentials ends the run with status 3.\n"
    "\n"
    "Examples:\n"
    "  keldro-cli record --poll /dev/ttyUSB0 -o charge.csv\n"
    "  keldro-cli record ttyUSB0 ttyUSB1 --duration 3600 -o night.jsonl --text night.log\n"
    "  keldro-cli record ttyUSB0 --format jsonl --count 1 | jq .soc_pct\n"
    "  keldro-cli record rfc2217://rack-pc:7000 --baud 9600 -o chamber.csv\n"
    "  keldro-cli record ttyUSB0 ttyUSB1 --mqtt mqtt://broker.lab/keldro -o night.csv\n"
    "  keldro-cli record ttyUSB0 -o night.csv --limits pack.toml --events night.events.jsonl\n"
    "  KELDRO_MQTT_USER=rack1 KELDRO_MQTT_PASSWORD=... keldro-cli record ttyUSB0 \\\n"
    "      --mqtt mqtts://broker.lab/lab/rack1 --mqtt-ca lab-ca.crt --ha-discovery\n"};

struct Options
{
    RunOptions run{QStringLiteral("Stop after SECONDS (decimals allowed)."),
                   QStringLiteral("Stop after N rows, all ports together.")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Write the rows to FILE (replaced if it exists) "
                                             "instead of standard output."),
                              QStringLiteral("FILE")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("csv or jsonl. Default: by the extension of -o "
                                             "(.csv; .jsonl, .ndjson, .json), csv on standard "
                                             "output."),
                              QStringLiteral("csv|jsonl")};
    QCommandLineOption text{QStringLiteral("text"),
                            QStringLiteral("Write the boards' text lines to FILE (appended) "
                                           "instead of standard error."),
                            QStringLiteral("FILE")};
    QCommandLineOption noReconnect{QStringLiteral("no-reconnect"),
                                   QStringLiteral("End the run with exit status 1 when a port "
                                                  "vanishes, instead of waiting for it.")};
    QCommandLineOption mqtt{QStringLiteral("mqtt"),
                            QStringLiteral("Publish to the MQTT broker at URL: "
                                           "mqtt://host[:port]/prefix, or mqtts:// for TLS "
                                           "(ports 1883 and 8883 by default)."),
                            QStringLiteral("URL")};
    QCommandLineOption boardId{QStringLiteral("board-id"),
                               QStringLiteral("The board's name in the topics; once per PORT, "
                                              "in the same order."),
                               QStringLiteral("ID")};
    QCommandLineOption qos{QStringLiteral("qos"),
                           QStringLiteral("MQTT quality of service of telemetry and text "
                                          "(default 1; status is always 1)."),
                           QStringLiteral("0|1"), QStringLiteral("1")};
    QCommandLineOption mqttQueue{QStringLiteral("mqtt-queue"),
                                 QStringLiteral("Messages kept per board while the broker is "
                                                "away (default 6000: ten minutes at 10 "
                                                "frames/s)."),
                                 QStringLiteral("N"), QStringLiteral("6000")};
    QCommandLineOption mqttCa{QStringLiteral("mqtt-ca"),
                              QStringLiteral("Trust the CA certificates in FILE for mqtts:// "
                                             "(default: the system's)."),
                              QStringLiteral("FILE")};
    QCommandLineOption mqttAuth{QStringLiteral("mqtt-auth"),
                                QStringLiteral("Read user=NAME and password=SECRET lines from "
                                               "FILE instead of KELDRO_MQTT_USER and "
                                               "KELDRO_MQTT_PASSWORD."),
                                QStringLiteral("FILE")};
    QCommandLineOption haDiscovery{QStringLiteral("ha-discovery"),
                                   QStringLiteral("Publish Home Assistant discovery configs "
                                                  "(retained), so that each board shows as a "
                                                  "device with the sensors its layout "
                                                  "carries.")};
};

// How long the start waits for the broker's answer, so that refused credentials end
// the run before the boards are touched; a broker that is slower only gets reported.
constexpr int BrokerAnswerMs = 2000;

// The --mqtt options, checked before anything is opened. Returns the exit status when
// they stop the run.
std::optional<int> parseMqtt(const QCommandLineParser &parser, const Options &options,
                             const RecordSettings &record, BrokerSettings *broker,
                             QStringList *boardIds)
{
    for (const QCommandLineOption *option :
         {&options.boardId, &options.qos, &options.mqttQueue, &options.mqttCa, &options.mqttAuth,
          &options.haDiscovery}) {
        if (!parser.isSet(options.mqtt) && parser.isSet(*option))
            return usageError(
                Help, QStringLiteral("--%1 needs --mqtt URL").arg(option->names().constFirst()));
    }
    if (!parser.isSet(options.mqtt))
        return std::nullopt;
    QString error;
    const std::optional<MqttUrl> url = MqttUrl::parse(parser.value(options.mqtt), &error);
    if (!url)
        return usageError(Help, error);
    broker->url = *url;
    const QString qos = parser.value(options.qos);
    if (qos != QLatin1String("0") && qos != QLatin1String("1"))
        return usageError(Help, QStringLiteral("--qos: \"%1\" is neither 0 nor 1").arg(qos));
    broker->qos = qos.toInt();
    bool ok = false;
    broker->queueCapacity = parser.value(options.mqttQueue).toInt(&ok);
    if (!ok || broker->queueCapacity <= 0)
        return usageError(Help, QStringLiteral("--mqtt-queue: \"%1\" is not a number above 0")
                                    .arg(parser.value(options.mqttQueue)));
    *boardIds = parser.values(options.boardId);
    if (!boardIds->isEmpty() && boardIds->size() != record.ports.size())
        return usageError(Help, QStringLiteral("--board-id: %1 given for %2 ports; give one "
                                               "per PORT, or none")
                                    .arg(boardIds->size())
                                    .arg(record.ports.size()));
    for (int i = 0; i < boardIds->size(); ++i) {
        if (boardIds->at(i).isEmpty() || boardIds->indexOf(boardIds->at(i)) != i)
            return usageError(
                Help,
                QStringLiteral("--board-id: \"%1\" is empty or named twice").arg(boardIds->at(i)));
    }
    broker->homeAssistant = parser.isSet(options.haDiscovery);
    if (parser.isSet(options.mqttCa)) {
        if (!url->tls)
            return usageError(Help, QStringLiteral("--mqtt-ca needs an mqtts:// URL"));
        broker->caFile = parser.value(options.mqttCa);
        if (!QFileInfo(broker->caFile).isReadable()) {
            Console::error(QStringLiteral("cannot read --mqtt-ca %1").arg(broker->caFile));
            return CannotStart;
        }
    }
    if (parser.isSet(options.mqttAuth)) {
        const QString path = parser.value(options.mqttAuth);
        if (!QFileInfo(path).isReadable()) {
            Console::error(QStringLiteral("cannot read --mqtt-auth %1").arg(path));
            return CannotStart;
        }
        const std::optional<MqttCredentials> credentials = MqttCredentials::fromFile(path, &error);
        if (!credentials)
            return usageError(Help, error);
        broker->credentials = *credentials;
    } else {
        broker->credentials = MqttCredentials::fromEnvironment();
    }
    return std::nullopt;
}

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
    const JudgeOptions judgeOptions;
    parser.addOptions({options.run.baud, options.run.poll, options.output, options.format,
                       options.run.duration, options.run.count, options.text, judgeOptions.limits,
                       judgeOptions.events, options.noReconnect, options.mqtt, options.boardId,
                       options.qos, options.mqttQueue, options.mqttCa, options.mqttAuth,
                       options.haDiscovery});
    addPortArguments(parser);
    if (const auto status = parseSubcommand(parser, arguments, Help))
        return *status;

    RecordSettings settings;
    const QStringList ports = parser.positionalArguments();
    if (ports.isEmpty())
        return usageError(Help, QStringLiteral("name at least one port"));
    QString portError;
    const std::optional<QVector<PortTarget>> targets = PortTarget::fromArguments(ports, &portError);
    if (!targets)
        return usageError(Help, portError);
    settings.ports = *targets;

    if (const QString wrong = readRunOptions(parser, options.run, &settings); !wrong.isEmpty())
        return usageError(Help, wrong);
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
    settings.reconnect = !parser.isSet(options.noReconnect);
    BrokerSettings broker;
    QStringList boardIds;
    const bool publishing = parser.isSet(options.mqtt);
    if (const auto status = parseMqtt(parser, options, settings, &broker, &boardIds))
        return *status;
    JudgeSettings judging;
    if (const auto status = readJudgeOptions(parser, judgeOptions, &judging))
        return *status;
    broker.alarms = judging.judging;

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
    // With --mqtt and no -o the broker is the only output.
    const bool keepRows = !outputPath.isEmpty() || !publishing;
    if (outputPath.isEmpty() && keepRows) {
        // The descriptor, not stdio's stream: the rows go past its buffer, whole.
        if (!rows.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered))
            return CannotStart;
    } else if (keepRows) {
        // Not truncated yet: a run whose port turns out busy leaves an earlier
        // recording under that name alone.
        rows.setFileName(outputPath);
        if (!openOutput(rows, QIODevice::ReadWrite))
            return CannotStart;
    }
    QFile text(parser.value(options.text));
    const bool newTextFile = parser.isSet(options.text) && !text.exists();
    QFile events(judging.eventsPath);
    const bool newEventsFile = !judging.eventsPath.isEmpty() && !events.exists();
    // What a run that never started has created goes again.
    auto removeNewFiles = [&] {
        if (newFile)
            rows.remove();
        if (newTextFile)
            text.remove();
        if (newEventsFile)
            events.remove();
    };
    if ((parser.isSet(options.text) &&
         !openOutput(text, QIODevice::WriteOnly | QIODevice::Append)) ||
        (!judging.eventsPath.isEmpty() &&
         !openOutput(events, QIODevice::WriteOnly | QIODevice::Append))) {
        removeNewFiles();
        return CannotStart;
    }

    // A closed pipe shows as a failed write (EPIPE), which ends the run like Ctrl+C; a
    // file over the size limit as one (EFBIG), which ends it like a full disk.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    const QString rowsName = outputPath.isEmpty() ? QStringLiteral("standard output") : outputPath;
    EventOutput eventOutput(judging.eventsPath.isEmpty() ? nullptr : &events);
    Recorder recorder(settings, keepRows ? &rows : nullptr, rowsName,
                      parser.isSet(options.text) ? &text : nullptr);
    BoardJudges *judges = nullptr;
    if (judging.judging) {
        judges = new BoardJudges(judging.limits, settings.ports, &eventOutput, &recorder);
        recorder.setJudges(judges);
    }
    if (publishing) {
        auto *feed = new MqttFeed(broker, settings.ports, boardIds, &recorder);
        if (!feed->start(BrokerAnswerMs)) {
            rows.close();
            text.close();
            events.close();
            removeNewFiles();
            return CannotStart;
        }
        recorder.setFeed(feed);
        if (judges)
            judges->setFeed(feed);
    }
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &recorder,
                     [&recorder] { recorder.finish(Done); });
    QObject::connect(&recorder, &Recorder::finished, qApp, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    if (!recorder.start()) {
        rows.close();
        text.close();
        events.close();
        removeNewFiles();
        return CannotStart;
    }
    return QCoreApplication::exec();
}
