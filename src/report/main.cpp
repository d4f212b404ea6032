// keldro-report: a station's report of one board from a recording, as PDF or HTML.
// keldro-cli runs it for `keldro-cli report`; it needs Qt Gui and Widgets for the
// plots and the PDF, which keldro-cli goes without.
#include "judge/limitsfile.h"
#include "report/recordingscan.h"
#include "report/reportdata.h"
#include "report/reportfigures.h"
#include "report/reportfile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <atomic>
#include <cstdio>
#include <keldro_version.h>

namespace {

// As keldro-cli's, one meaning each.
// Incomplete: not written whole, or written with ERROR.
enum Status { Done = 0, Incomplete = 1, UsageError = 2, Failed = 4 };

const char Description[] =
    "Writes a station's report of one board from a recording (CSV or JSON Lines, made by\n"
    "record or the window): the verdict in large letters with the board, the port and\n"
    "the times; the checks as check --recording gives them and the protection flags\n"
    "seen; the cell health; plots of every cell, the current with the SOC and the\n"
    "temperatures with the limit lines and event marks, and the cells' resistance; then\n"
    "the events. A4 pages, the plots as vectors; HTML is one file that prints the same\n"
    "pages and needs no script. The format follows OUT's extension: .pdf or .html.\n"
    "\n"
    "The events come from --events FILE, else from the events file beside the recording\n"
    "(night.events.jsonl for night.csv) when there is one, else from judging the\n"
    "recording. With --limits the recording is judged against FILE: PASS or FAIL. Without,\n"
    "the report says NOT JUDGED. The report is written under a temporary name beside OUT\n"
    "and renamed when complete: a reader never finds half a report.";

const char Details[] =
    "A recording of several ports: the report is of the first port it names, or of\n"
    "--port NAME; it says which others the recording holds.\n"
    "\n"
    "Examples:\n"
    "  keldro-cli report night.csv --limits pack.toml -o night.pdf\n"
    "  keldro-cli report unit-4711.jsonl --limits eol.toml --title \"Unit 4711\" -o 4711.html\n"
    "  keldro-cli report fleet.csv --port ttyUSB1 -o ttyUSB1.pdf\n"
    "\n"
    "Exit status:\n"
    "  0  the report is written: PASS, or NOT JUDGED without --limits\n"
    "  1  the report could not be written whole (a full disk): no file is left under\n"
    "     OUT's name; or it is written with ERROR: a [health] limit could not be\n"
    "     measured, as check says\n"
    "  2  usage: an unknown option, an unknown extension, a limits file that does not\n"
    "     read, a recording or events file that does not read (with the line), an\n"
    "     output folder that cannot be written (with the reason)\n"
    "  4  the report is written: FAIL, an alarm was raised or a [health] limit failed\n";

int usageError(const QString &message)
{
    std::fprintf(stderr, "keldro-cli report: %s (see keldro-cli report --help)\n",
                 message.toLocal8Bit().constData());
    return UsageError;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "keldro-cli report: %s\n", message.toLocal8Bit().constData());
    return UsageError;
}

int run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the report to OUT (.pdf or .html)."),
                                    QStringLiteral("OUT"));
    const QCommandLineOption limits(QStringLiteral("limits"),
                                    QStringLiteral("Judge the recording against the limits in "
                                                   "FILE (TOML; man keldro-cli names its keys)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption events(QStringLiteral("events"),
                                    QStringLiteral("Take the events from FILE (JSON Lines, as "
                                                   "record --events and the window write them)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("The report's title (default: the "
                                                  "recording's file name)."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Report on the port NAME of a recording of "
                                                 "several."),
                                  QStringLiteral("NAME"));
    parser.addOptions({output, limits, events, title, port, help, version});
    parser.addPositionalArgument(QStringLiteral("RECORDING"),
                                 QStringLiteral("A recording, CSV or JSON Lines."));
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     QStringLiteral("Usage: keldro-cli report RECORDING [--limits FILE] "
                                    "[--events FILE] [--title TEXT] -o OUT.pdf|OUT.html"));
        std::fputs(
            (text + QLatin1Char('\n') + QString::fromUtf8(Details)).toLocal8Bit().constData(),
            stdout);
        return Done;
    }
    if (parser.isSet(version)) {
        std::printf("keldro-report %s\n", KELDRO_VERSION);
        return Done;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(positional.isEmpty() ? QStringLiteral("name the recording")
                                               : QStringLiteral("one recording per report"));
    if (!parser.isSet(output))
        return usageError(QStringLiteral("name the report with -o OUT.pdf or -o OUT.html"));

    ReportRequest request;
    request.recording = positional.constFirst();
    request.output = parser.value(output);
    request.title = parser.value(title);
    request.port = parser.value(port);
    request.eventsFile = parser.value(events);
    if (!ReportFile::formatFor(request.output))
        return usageError(
            QStringLiteral("%1: unknown extension; a report is .pdf or .html").arg(request.output));
    if (parser.isSet(limits)) {
        QString error;
        request.limitsFile = parser.value(limits);
        request.limits = readLimitsFile(request.limitsFile, &error);
        if (!request.limits)
            return fail(error);
    }

    QElapsedTimer clock;
    clock.start();
    ReportFile file(request.output);
    QString error;
    if (!file.open(&error))
        return fail(error);
    const std::atomic<bool> cancelled{false};
    const std::optional<ReportData> data = scanRecording(request, cancelled, nullptr, &error);
    if (!data)
        return fail(error);
    if (!data->otherPorts.isEmpty())
        std::fprintf(stderr, "keldro-cli report: %s also holds %s; the report is of %s\n",
                     qPrintable(request.recording),
                     qPrintable(data->otherPorts.join(QStringLiteral(", "))),
                     qPrintable(data->session.port()));
    const QVector<ReportFigure> figures = drawReportFigures(*data);
    if (!file.write(*data, figures, &error)) {
        std::fprintf(stderr, "keldro-cli report: %s\n", error.toLocal8Bit().constData());
        return Incomplete;
    }
    const ReportData::Verdict verdict = data->verdict();
    std::fprintf(stderr, "keldro-cli report: %s, %lld frames of %s: %s in %.1f s\n",
                 qPrintable(request.output), static_cast<long long>(data->session.frames()),
                 qPrintable(data->session.port()), qPrintable(verdictWord(verdict)),
                 double(clock.elapsed()) / 1000.0);
    return verdict == ReportData::Verdict::Fail    ? Failed
           : verdict == ReportData::Verdict::Error ? Incomplete
                                                   : Done;
}

QtMessageHandler qtMessages = nullptr;

// Qt's platform asks for the user's runtime folder while it starts. A station's service,
// cron or su has no login session and so none, and Qt would say so on every run between
// the report's own lines; the folder it falls back to does no harm to a report.
void withoutRuntimeFolderWarning(QtMsgType type, const QMessageLogContext &context,
                                 const QString &message)
{
    if (type == QtWarningMsg &&
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (qtMessages)
        qtMessages(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    // The plots are widgets, drawn but never shown: no display is needed, and none used.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtMessages = qInstallMessageHandler(withoutRuntimeFolderWarning);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtMessages);
    QApplication::setApplicationName(QStringLiteral("keldro-report"));
    QApplication::setApplicationVersion(QStringLiteral(KELDRO_VERSION));
    return run(QApplication::arguments());
}
