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
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const SubcommandHelp Help{
    "check",
    "[options] --limits FILE (--duration SECONDS | --count N) PORT...\n"
    "       keldro-cli check --recording FILE --limits FILE [--junit FILE]",
    "Judges boards against a limits file for a while, or a recording made by record or\n"
    "the window (CSV or JSON Lines) with the same judge, and ends with a table on\n"
    "standard output: for each port every limit the file sets, the protection flags and\n"
    "the link, the worst value seen and where, how often the alarm was raised, and the\n"
    "result. The check fails when any alarm was raised, even one that cleared later: a\n"
    "limit crossed (strictly beyond it) or a protection flag of fail_on raised; and when\n"
    "the frames stopped for longer than 3 s (the link went stale, or was lost and came\n"
    "back later). A link lost and not back by the end is an error. The events go to\n"
    "standard error as they come, with their time and port, or to --events FILE as\n"
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
    "  ttyUSB0  link                 3      0.2    -             0       PASS\n"
    "then one verdict line per port. WORST is the lowest value seen for a minimum and\n"
    "the highest for a maximum, in the key's unit; for protection, the flags ever\n"
    "raised; for link, the longest time without a good frame, in seconds (RAISED: how\n"
    "often the frames stopped for longer than the 3 s of LIMIT). A recording has no\n"
    "link row. RESULT is ERROR for every row of a port that sent no frame and for the\n"
    "link of one lost and not back by the end, and n/a for a value no frame carried\n"
    "(a layout 1 board has no protection flags).\n"
    "\n"
    "--junit FILE writes JUnit XML for Jenkins (junit) or GitLab (artifacts:reports:\n"
    "junit): a testsuite per port with its timestamp, host and time, a testcase per row\n"
    "of the table with the time judged; a failure's message is the first raised event's\n"
    "text and the count of raised events, an n/a row is skipped and an ERROR row in\n"
    "error, with the reason. A check that cannot be made (a malformed limits file, a\n"
    "recording or port that cannot be read) writes one testcase in error saying why,\n"
    "so that no earlier report is left in its place.\n"
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
                             QStringLiteral("Write the result, or why there is none, as JUnit "
                                            "XML to FILE (replaced)."),
                             QStringLiteral("FILE")};
};

// The JUnit file is opened as soon as the arguments are read, so that one that cannot
// be written ends the check at once, and written whenever the run ends: with the
// result, or with why there is none. A file replaces the old report only when complete;
// a pipe or a device (--junit /dev/stdout) is written as it is.
class Report
{
public:
    explicit Report(const QString &path) : path(path), startMs(QDateTime::currentMSecsSinceEpoch())
    {}

    bool open()
    {
        if (path.isEmpty())
            return true;
        const QFileInfo target(path);
        if (!target.exists() || target.isFile())
            junit = std::make_unique<QSaveFile>(path);
        else
            junit = std::make_unique<QFile>(path);
        if (junit->open(QIODevice::WriteOnly))
            return true;
        Console::error(QStringLiteral("cannot write %1: %2").arg(path, junit->errorString()));
        junit.reset();
        return false;
    }
    // The run ends without a check, for the reason already said; returns its status.
    int refuse(int status, const QString &reason)
    {
        if (junit)
            commit(writeJUnitRefusal(junit.get(), startMs, reason, status), &status);
        return status;
    }
    // The table on standard output, the JUnit file; the exit status of the check.
    // runFailure: what ended the run early, as already said.
    int finish(const JudgeSettings &judging, const QVector<PortCheck> &checks, int runStatus,
               const QString &runFailure = QString())
    {
        const QByteArray table = checkTable(judging.limits, checks);
        std::fwrite(table.constData(), 1, size_t(table.size()), stdout);
        std::fflush(stdout);
        // A run that failed itself (a full disk under the events) says so over the verdict.
        int status = runStatus != Done ? runStatus : checkExitStatus(judging.limits, checks);
        if (junit)
            commit(writeJUnitReport(junit.get(), judging.limits, judging.limitsPath, checks,
                                    runFailure),
                   &status);
        return status;
    }

private:
    void commit(bool written, int *status)
    {
        auto *file = qobject_cast<QSaveFile *>(junit.get());
        if (written && (file ? file->commit() : junit->flush())) {
            junit.reset();
            return;
        }
        Console::error(QStringLiteral("writing %1 failed: %2").arg(path, junit->errorString()));
        const bool replacing = file;
        junit.reset();
        // No earlier report may stand for this run.
        if (replacing)
            QFile::remove(path);
        *status = std::max(*status, int(LinkFailed));
    }

    QString path;
    std::unique_ptr<QFileDevice> junit;
    qint64 startMs;
};

// A recording, judged frame by frame as fast as it reads: a Judge per port, in the
// order the ports first appear. Frames only; a recording does not know when its
// links opened.
int checkRecording(const QString &path, const JudgeSettings &judging, EventOutput *events,
                   Report *report)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString why = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        Console::error(why);
        return report->refuse(CannotStart, why);
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
                return report->refuse(LinkFailed, events->errorString());
            }
            judged.clear();
        }
    }
    if (reader.hasError()) {
        const QString why = QStringLiteral("%1: %2").arg(path, reader.errorString());
        Console::error(why);
        return report->refuse(UsageError, why);
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
    if (!events->sync()) {
        Console::error(events->errorString());
        return report->finish(judging, checks, LinkFailed, events->errorString());
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

    // From here on every end of the run is in the report.
    Report report(parser.value(options.junit));
    if (!report.open())
        return CannotStart;
    auto usage = [&report](const QString &why) {
        return report.refuse(usageError(Help, why), why);
    };
    if (!parser.isSet(judgeOptions.limits))
        return usage(QStringLiteral("name the limits to judge against with --limits FILE"));
    const QStringList ports = parser.positionalArguments();
    const bool ofRecording = parser.isSet(options.recording);
    RecordSettings settings;
    if (ofRecording) {
        if (!ports.isEmpty())
            return usage(QStringLiteral("name ports or --recording FILE, not both"));
        for (const QCommandLineOption *live :
             {&options.run.duration, &options.run.count, &options.run.poll, &options.run.baud}) {
            if (parser.isSet(*live))
                return usage(QStringLiteral("--%1 is for ports, not a recording")
                                 .arg(live->names().constFirst()));
        }
    } else {
        if (ports.isEmpty())
            return usage(QStringLiteral("name at least one port, or --recording FILE"));
        QString portError;
        const std::optional<QVector<PortTarget>> targets =
            PortTarget::fromArguments(ports, &portError);
        if (!targets)
            return usage(portError);
        settings.ports = *targets;
        if (parser.isSet(options.run.duration) == parser.isSet(options.run.count))
            return usage(QStringLiteral("say how long to judge: --duration SECONDS or --count N"));
        if (const QString wrong = readRunOptions(parser, options.run, &settings); !wrong.isEmpty())
            return usage(wrong);
    }
    JudgeSettings judging;
    QString refusal;
    if (const auto status = readJudgeOptions(parser, judgeOptions, &judging, &refusal))
        return report.refuse(*status, refusal);
    for (const PortTarget &target : qAsConst(settings.ports)) {
        if (const QString problem = target.problem(); !problem.isEmpty()) {
            Console::error(problem);
            return report.refuse(CannotStart, problem);
        }
    }

    // The files before the ports, as record opens them.
    QFile eventsFile(judging.eventsPath);
    const bool newEventsFile = !judging.eventsPath.isEmpty() && !eventsFile.exists();
    auto refuseStart = [&](const QString &why) {
        eventsFile.close();
        if (newEventsFile)
            eventsFile.remove();
        return report.refuse(CannotStart, why);
    };
    if (!judging.eventsPath.isEmpty() &&
        !eventsFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        const QString why = QStringLiteral("cannot write %1: %2")
                                .arg(eventsFile.fileName(), eventsFile.errorString());
        Console::error(why);
        return refuseStart(why);
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
    if (!recorder.start(&refusal))
        return refuseStart(refusal);
    const int status = QCoreApplication::exec();
    return report.finish(judging, judges->checks(), status, recorder.failure());
}
