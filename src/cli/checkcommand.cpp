#include "boardjudges.h"
#include "checktable.h"
#include "console.h"
#include "eventoutput.h"
#include "exitstatus.h"
#include "judge/cellhealthestimator.h"
#include "judge/healthcheck.h"
#include "judgeoptions.h"
#include "junitreport.h"
#include "porttarget.h"
#include "record/recordreader.h"
#include "recorder.h"
#include "runoptions.h"
#include "subcommand.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

const SubcommandHelp Help{
    "check",
    "[options] --limits FILE (--duration SECONDS | --count N) PORT...\n"
    "       keldro-cli check --recording FILE --limits FILE [--junit FILE]",
    "Judges boards against a limits file for a while, or a recording made by record or\n"
    "the window (CSV or JSON Lines) with the same judge, and ends with a table on\n"
    "standard output: for each port every limit the file sets and the protection flags,\n"
    "the worst value seen and where, how often the alarm was raised, and PASS or FAIL.\n"
    "The check fails when any alarm was raised, even one that cleared later: a limit\n"
    "crossed (strictly beyond it) or a protection flag of fail_on raised. The events go\n"
    "to standard error as they come, with their time and port, or to --events FILE as\n"
    "JSON Lines. Ports are named as for record; the summary goes to standard error.\n"
    "A limits file that does not parse ends the check before it starts, naming its\n"
    "line and key (status 2): a typo never switches a limit off.\n"
    "The [health] limits are judged once, at the end, on every frame of the port, as\n"
    "keldro-cli health finds each cell's resistance and the pack's capacity: a FAIL\n"
    "names the cell and its value, and a value that could not be measured (no current\n"
    "step, the SOC moved too little) is an ERROR with the reason (status 1).",
    "The table, one line per limit and port, each field one word:\n"
    "  PORT     CHECK                LIMIT  WORST  AT            RAISED  RESULT\n"
    "  ttyUSB0  cells.max_mV         4250   4262   cell7         1       FAIL\n"
    "  ttyUSB0  cells.max_spread_mV  80     93     cell2,cell11  1       FAIL\n"
    "  ttyUSB0  temperature.max_C    60     41.5   mosfet_C      0       PASS\n"
    "  ttyUSB0  protection           all    none   -             0       PASS\n"
    "then one verdict line per port. WORST is the lowest value seen for a minimum and\n"
    "the highest for a maximum, in the key's unit; for protection, the flags ever\n"
    "raised. RESULT is ERROR for a port that sent no frame, and for a [health] limit\n"
    "that could not be measured:\n"
    "  ttyUSB0  health.max_resistance_mOhm  4      5.52   cell7         1       FAIL\n"
    "  ttyUSB0  health.min_capacity_Ah      40     -      -             0       ERROR\n"
    "\n"
    "--junit FILE writes JUnit XML for Jenkins (junit) or GitLab (artifacts:reports:\n"
    "junit): a testsuite per port, a testcase per limit the file sets and one named\n"
    "protection; a failure's message is the first raised event's text and the count\n"
    "of raised events; a [health] limit not measured is an error with the reason.\n"
    "\n"
    "Examples:\n"
    "  keldro-cli check ttyUSB0 --limits pack.toml --duration 60\n"
    "  keldro-cli check ttyUSB0 ttyUSB1 --limits pack.toml --count 600 --junit check.xml\n"
    "  keldro-cli check --recording night.csv --limits stricter.toml\n"
    "  keldro-cli check --poll ttyUSB0 --limits pack.toml --duration 30 || echo \"failed: $?\"\n"
    "The limits file's tables and keys: man keldro-cli (LIMITS FILE), or\n"
    "docs/limits.example.toml in keldro's sources.\n"};

struct Options
{
    RunOptions run{QStringLiteral("Judge for SECONDS (decimals allowed)."),
                   QStringLiteral("Judge N frames, all ports together.")};
    QCommandLineOption recording{QStringLiteral("recording"),
                                 QStringLiteral("Judge the frames of FILE, a recording (CSV or "
                                                "JSON Lines), instead of ports."),
                                 QStringLiteral("FILE")};
    QCommandLineOption junit{QStringLiteral("junit"),
                             QStringLiteral("Write the result as JUnit XML to FILE (replaced)."),
                             QStringLiteral("FILE")};
};

// The JUnit file is opened before the check starts, so that one that cannot be
// written ends it at once, and written when it ends.
struct Report
{
    QFile junit;
    bool newFile = false;

    bool open(const QString &path)
    {
        if (path.isEmpty())
            return true;
        junit.setFileName(path);
        newFile = !junit.exists();
        if (junit.open(QIODevice::ReadWrite))
            return true;
        Console::error(
            QStringLiteral("cannot write %1: %2").arg(junit.fileName(), junit.errorString()));
        return false;
    }
    void discard()
    {
        junit.close();
        if (newFile)
            junit.remove();
    }
    // The table on standard output, the JUnit file; the exit status of the check.
    int finish(const JudgeSettings &judging, const QVector<PortCheck> &checks, int runStatus)
    {
        const QByteArray table = checkTable(judging.limits, checks);
        std::fwrite(table.constData(), 1, size_t(table.size()), stdout);
        std::fflush(stdout);
        int status = runStatus != Done ? runStatus : checkExitStatus(checks);
        if (junit.isOpen()) {
            junit.resize(0);
            if (!writeJUnitReport(&junit, judging.limits, judging.limitsPath, checks) ||
                !junit.flush()) {
                Console::error(QStringLiteral("writing %1 failed: %2")
                                   .arg(junit.fileName(), junit.errorString()));
                status = LinkFailed;
            }
            junit.close();
        }
        return status;
    }
};

// A recording, judged frame by frame as fast as it reads: a Judge per port, in the
// order the ports first appear. Frames only; a recording does not know when its
// links opened.
int checkRecording(const QString &path, const JudgeSettings &judging, EventOutput *events,
                   Report *report)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Console::error(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        report->discard();
        return CannotStart;
    }
    QElapsedTimer clock;
    clock.start();
    RecordReader reader(&file);
    std::vector<Judge> judges;
    // [health] is judged at the end, on everything each port sent.
    const bool judgingHealth = judging.limits.health.any();
    std::vector<CellHealthEstimator> health;
    QVector<PortCheck> checks;
    QVector<JudgeEvent> judged;
    TelemetryRecord record;
    int current = -1;
    while (reader.next(&record)) {
        if (current < 0 || record.port != checks.at(current).port) {
            current = -1;
            for (int i = 0; i < checks.size() && current < 0; ++i)
                if (checks.at(i).port == record.port)
                    current = i;
            if (current < 0) {
                current = checks.size();
                judges.emplace_back(judging.limits, record.port);
                health.emplace_back();
                checks.append({record.port, CheckTally(), record.timeMs, record.timeMs, {}});
            }
        }
        judges[size_t(current)].judgeFrame(record, &judged);
        if (judgingHealth)
            health[size_t(current)].add(record);
        checks[current].endMs = record.timeMs;
        if (!judged.isEmpty()) {
            if (!events->write(judged)) {
                Console::error(events->errorString());
                report->discard();
                return LinkFailed;
            }
            judged.clear();
        }
    }
    if (reader.hasError()) {
        Console::error(QStringLiteral("%1: %2").arg(path, reader.errorString()));
        report->discard();
        return UsageError;
    }
    qint64 frames = 0;
    for (int i = 0; i < checks.size(); ++i) {
        checks[i].tally = judges[size_t(i)].tally();
        frames += checks[i].tally.frames;
        if (judgingHealth)
            checks[i].healthRows =
                healthCheckRows(judging.limits.health, health[size_t(i)].result(), checks[i].port);
    }
    Console::line(QStringLiteral("keldro-cli: %1 frames of %2 port%3 judged in %4 s from %5")
                      .arg(frames)
                      .arg(checks.size())
                      .arg(checks.size() == 1 ? QString() : QStringLiteral("s"))
                      .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1)
                      .arg(path));
    // A recording without a row has no port to name: the file stands for it.
    if (checks.isEmpty()) {
        const QString name = QFileInfo(path).fileName();
        checks.append({name, CheckTally(), 0, 0, {}});
        if (judgingHealth)
            checks[0].healthRows =
                healthCheckRows(judging.limits.health, CellHealthEstimator().result(), name);
    }
    return report->finish(judging, checks, Done);
}

} // namespace

int runCheck(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options;
    const JudgeOptions judgeOptions;
    parser.addOptions({judgeOptions.limits, options.run.duration, options.run.count,
                       options.recording, options.junit, judgeOptions.events, options.run.poll,
                       options.run.baud});
    addPortArguments(parser);
    if (const auto status = parseSubcommand(parser, arguments, Help))
        return *status;

    if (!parser.isSet(judgeOptions.limits))
        return usageError(Help, QStringLiteral("name the limits to judge against with --limits "
                                               "FILE"));
    const QStringList ports = parser.positionalArguments();
    const bool ofRecording = parser.isSet(options.recording);
    RecordSettings settings;
    if (ofRecording) {
        if (!ports.isEmpty())
            return usageError(Help, QStringLiteral("name ports or --recording FILE, not both"));
        for (const QCommandLineOption *live :
             {&options.run.duration, &options.run.count, &options.run.poll, &options.run.baud}) {
            if (parser.isSet(*live))
                return usageError(Help, QStringLiteral("--%1 is for ports, not a recording")
                                            .arg(live->names().constFirst()));
        }
    } else {
        if (ports.isEmpty())
            return usageError(Help, QStringLiteral("name at least one port, or --recording "
                                                   "FILE"));
        QString portError;
        const std::optional<QVector<PortTarget>> targets =
            PortTarget::fromArguments(ports, &portError);
        if (!targets)
            return usageError(Help, portError);
        settings.ports = *targets;
        if (parser.isSet(options.run.duration) == parser.isSet(options.run.count))
            return usageError(Help, QStringLiteral("say how long to judge: --duration SECONDS "
                                                   "or --count N"));
        if (const QString wrong = readRunOptions(parser, options.run, &settings); !wrong.isEmpty())
            return usageError(Help, wrong);
    }
    JudgeSettings judging;
    if (const auto status = readJudgeOptions(parser, judgeOptions, &judging))
        return *status;
    for (const PortTarget &target : qAsConst(settings.ports)) {
        if (const QString problem = target.problem(); !problem.isEmpty()) {
            Console::error(problem);
            return CannotStart;
        }
    }

    // The files before the ports, as record opens them.
    Report report;
    if (!report.open(parser.value(options.junit)))
        return CannotStart;
    QFile eventsFile(judging.eventsPath);
    const bool newEventsFile = !judging.eventsPath.isEmpty() && !eventsFile.exists();
    auto discardFiles = [&] {
        report.discard();
        eventsFile.close();
        if (newEventsFile)
            eventsFile.remove();
    };
    if (!judging.eventsPath.isEmpty() &&
        !eventsFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        Console::error(QStringLiteral("cannot write %1: %2")
                           .arg(eventsFile.fileName(), eventsFile.errorString()));
        discardFiles();
        return CannotStart;
    }
    std::signal(SIGPIPE, SIG_IGN);
    EventOutput events(judging.eventsPath.isEmpty() ? nullptr : &eventsFile);
    if (ofRecording)
        return checkRecording(parser.value(options.recording), judging, &events, &report);

    Recorder recorder(settings, nullptr, QString(), nullptr);
    auto *judges = new BoardJudges(judging.limits, settings.ports, &events, &recorder);
    recorder.setJudges(judges);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &recorder,
                     [&recorder] { recorder.finish(Done); });
    QObject::connect(&recorder, &Recorder::finished, qApp, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    if (!recorder.start()) {
        discardFiles();
        return CannotStart;
    }
    const int status = QCoreApplication::exec();
    return report.finish(judging, judges->checks(), status);
}
