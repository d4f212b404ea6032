#include "console.h"
#include "exitstatus.h"
#include "healthtext.h"
#include "judge/boardshealth.h"
#include "judge/cellhealthestimator.h"
#include "porttarget.h"
#include "record/recordreader.h"
#include "recorder.h"
#include "runoptions.h"
#include "serial/porturl.h"
#include "subcommand.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>

namespace {

const SubcommandHelp Help{
    "health", "[options] SOURCE...",
    "Finds the weak cell of a pack from its telemetry: each cell's DC internal resistance\n"
    "from the steps of the pack current, as a cycler measures it (the voltage change over\n"
    "the current change, from the last frame before a step to the first frame 0.5 s to\n"
    "2 s after it, the current steady for 2 s before), and each cell's sag against the\n"
    "others as the pack empties. A source is a recording made by record or the window\n"
    "(CSV or JSON Lines; a last line cut short is left out), read as fast as it reads,\n"
    "or a port, read live until --duration, --count, or Ctrl+C. Each source gives one\n"
    "result on standard output: a table, or with --format json one JSON object per line.\n"
    "A recording of several boards gives one result per board, named FILE#PORT.\n"
    "\n"
    "A cell's verdict is \"high resistance\" above 1.5 times the cells' median and at\n"
    "least 0.5 mOhm above it, \"low capacity\" when it sags more than 30 mV from above\n"
    "60 % SOC to below 30 % SOC, \"unknown\" when neither could be measured, else \"ok\".\n"
    "A value that could not be measured is \"-\" (null in JSON), and the text says which\n"
    "rule stopped it; it is never 0.",
    "The text, for each source (a board under a load switched between 5 A and 30 A):\n"
    "  /dev/pts/3: 602 frames from 2026-12-08T14:38:37.643Z to 2026-12-08T14:39:37.628Z,\n"
    "  6 current steps of 2 A or more\n"
    "  CELL  RESISTANCE       STEPS  SAG  VERDICT\n"
    "  1     2.02 ± 0.13 mΩ   6      -    ok\n"
    "  7     5.56 ± 0.06 mΩ   6      -    high resistance\n"
    "  pack  43.86 ± 0.20 mΩ  6\n"
    "  charged 0.000 Ah (0.00 Wh), discharged 0.292 Ah (16.93 Wh), SOC 80 % to 79 %, no gap\n"
    "  capacity: not measured: the SOC moved 1 point in the time counted; 20 are needed\n"
    "  sag: not measured: no discharging frame below 30 % SOC\n"
    "  weakest: cell 7: 5.6 mΩ against a median of 2.0 mΩ over 6 steps\n"
    "\n"
    "The JSON keys (null for what was not measured):\n"
    "  source frames from to steps pack cells weakest\n"
    "  pack: resistance_mOhm charged_Ah discharged_Ah charged_Wh discharged_Wh\n"
    "        capacity_Ah soc_from soc_to gaps\n"
    "  cells: cell resistance_mOhm resistance_iqr_mOhm steps sag_mV verdict\n"
    "  weakest: cell why\n"
    "Charge and energy are counted by the trapezoid rule; gaps of more than 10 s between\n"
    "frames are not bridged but counted. capacity_Ah is the net charge over the SOC it\n"
    "moved, once it moved 20 points or more.\n"
    "\n"
    "Examples:\n"
    "  keldro-cli health night.csv\n"
    "  keldro-cli health night.csv --format json | jq '.weakest.why'\n"
    "  keldro-cli health ttyUSB0 --duration 600 --min-step 5\n"
    "  keldro-cli health rack1.jsonl rack2.jsonl --format json > health.jsonl\n"};

struct Options
{
    RunOptions run{QStringLiteral("Read ports for SECONDS (decimals allowed); default: until "
                                  "Ctrl+C."),
                   QStringLiteral("Read N frames from the ports, all together.")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("text (default) or json: JSON Lines, one object "
                                             "per source."),
                              QStringLiteral("text|json"), QStringLiteral("text")};
    QCommandLineOption minStep{QStringLiteral("min-step"),
                               QStringLiteral("The least change of the current that counts as "
                                              "a step, in A (default 2)."),
                               QStringLiteral("AMPS"), QStringLiteral("2")};
};

// One source as given, and what it gave: a recording may hold several boards.
struct Source
{
    QString argument;
    bool isRecording = false;
    QVector<QPair<QString, CellHealth>> results;
};

bool isRecording(const QString &argument)
{
    if (PortUrl::isUrl(argument))
        return false;
    return QFileInfo(argument).isFile() || recordFormatForPath(argument).has_value();
}

// A recording's frames through an estimator per board, in the order the boards first
// appear. Returns the exit status when it cannot be read.
std::optional<int> readRecording(Source *source, qint32 minStepMa)
{
    QFile file(source->argument);
    if (!file.open(QIODevice::ReadOnly)) {
        Console::error(
            QStringLiteral("cannot read %1: %2").arg(source->argument, file.errorString()));
        return UsageError;
    }
    RecordReader reader(&file);
    BoardsHealth boards(minStepMa);
    TelemetryRecord record;
    while (reader.next(&record))
        boards.add(record);
    if (reader.hasError()) {
        Console::error(QStringLiteral("%1: %2").arg(source->argument, reader.errorString()));
        return UsageError;
    }
    if (reader.lastLineCutShort())
        Console::error(QStringLiteral("%1: the last line is cut short: %2 frames read")
                           .arg(source->argument)
                           .arg(reader.recordsRead()));
    source->results = boards.results(source->argument);
    return std::nullopt;
}

} // namespace

int runHealth(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options;
    parser.addOptions({options.format, options.minStep, options.run.duration, options.run.count,
                       options.run.poll, options.run.baud});
    addPortArguments(parser, true);
    if (const auto status = parseSubcommand(parser, arguments, Help))
        return *status;

    const QString format = parser.value(options.format);
    if (format != QLatin1String("text") && format != QLatin1String("json"))
        return usageError(Help,
                          QStringLiteral("--format: \"%1\" is neither text nor json").arg(format));
    const bool json = format == QLatin1String("json");
    bool ok = false;
    const double minStepAmps = parser.value(options.minStep).toDouble(&ok);
    if (!ok || !(minStepAmps >= 0.01 && minStepAmps <= 1000))
        return usageError(Help, QStringLiteral("--min-step: \"%1\" is not a current from 0.01 "
                                               "to 1000 A")
                                    .arg(parser.value(options.minStep)));
    const auto minStepMa = qint32(std::lround(minStepAmps * 1000));

    const QStringList sourceArguments = parser.positionalArguments();
    if (sourceArguments.isEmpty())
        return usageError(Help, QStringLiteral("name at least one recording or port"));
    QVector<Source> sources;
    QStringList portArguments;
    for (const QString &argument : sourceArguments) {
        sources.append({argument, isRecording(argument), {}});
        if (!sources.constLast().isRecording)
            portArguments << argument;
    }
    RecordSettings settings;
    QString portError;
    const std::optional<QVector<PortTarget>> targets =
        PortTarget::fromArguments(portArguments, &portError);
    if (!targets)
        return usageError(Help, portError);
    settings.ports = *targets;
    if (settings.ports.isEmpty()) {
        for (const QCommandLineOption *live :
             {&options.run.duration, &options.run.count, &options.run.poll, &options.run.baud}) {
            if (parser.isSet(*live))
                return usageError(Help, QStringLiteral("--%1 is for ports, not recordings")
                                            .arg(live->names().constFirst()));
        }
    }
    if (parser.isSet(options.run.duration) && parser.isSet(options.run.count))
        return usageError(Help, QStringLiteral("give --duration or --count, not both"));
    if (const QString wrong = readRunOptions(parser, options.run, &settings); !wrong.isEmpty())
        return usageError(Help, wrong);
    for (const PortTarget &target : qAsConst(settings.ports)) {
        if (const QString problem = target.problem(); !problem.isEmpty()) {
            Console::error(problem);
            return CannotStart;
        }
    }

    for (Source &source : sources) {
        if (!source.isRecording)
            continue;
        if (const auto status = readRecording(&source, minStepMa))
            return *status;
    }

    int status = Done;
    if (!settings.ports.isEmpty()) {
        std::map<QString, CellHealthEstimator> live;
        for (const PortTarget &target : qAsConst(settings.ports))
            live.emplace(target.name, CellHealthEstimator(minStepMa));
        std::signal(SIGPIPE, SIG_IGN);
        Recorder recorder(settings, nullptr, QString(), nullptr);
        QObject::connect(&recorder, &Recorder::frameTaken, [&live](const TelemetryRecord &record) {
            const auto at = live.find(record.port);
            if (at != live.end())
                at->second.add(record);
        });
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::received, &recorder,
                         [&recorder] { recorder.finish(Done); });
        QObject::connect(&recorder, &Recorder::finished, qApp, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        if (!recorder.start())
            return CannotStart;
        status = QCoreApplication::exec();
        int next = 0;
        for (Source &source : sources) {
            if (source.isRecording)
                continue;
            const QString &name = settings.ports.at(next++).name;
            source.results.append({name, live.at(name).result()});
        }
    }

    QByteArray out;
    bool first = true;
    for (const Source &source : qAsConst(sources)) {
        for (const auto &[name, health] : source.results) {
            if (json) {
                out += QJsonDocument(cellHealthJson(health, name)).toJson(QJsonDocument::Compact) +
                       '\n';
            } else {
                if (!first)
                    out += '\n';
                out += healthText(health, name).toUtf8();
            }
            first = false;
        }
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return status;
}
