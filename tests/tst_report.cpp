// keldro-cli report end to end: the statuses, the PDF's and the HTML's text against
// what check --recording says of the same file, a cut-short recording, a full disk;
// and the window's Export report… of its live session.
#include "childprocess.h"
#include "packmodel.h"
#include "plot/trendstore.h"
#include "record/recordwriter.h"
#include "report/reportjob.h"
#include "window/alarms/windowjudge.h"
#include "window/reportexport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <sys/mount.h>

namespace {

// QProcess::waitForFinished() is false for a process whose end has already been seen.
bool ends(const Process &process, int timeoutMs = 60000)
{
    return process->state() == QProcess::NotRunning || process->waitForFinished(timeoutMs);
}

// Five minutes of keldro-sim's pack at 10 frames/s under a load switched between 5 A
// and 30 A every 10 s, cell 7 of 5.5 mΩ against 2 mΩ: cell 7 at 4300 mV from second 60
// to 70, UV raised from second 100 to 110.
void writeRecording(const QString &path, qint64 startMs)
{
    PackSettings settings;
    settings.load = LoadCycle{-5000, -30000, 10};
    settings.cellResistanceMilliohm.insert(7, 5.5);
    QString error;
    for (const char *text : {"cell7=4300mV@60-70", "uv@100-110"})
        settings.faults << *PackFault::parse(QLatin1String(text), &error);
    PackModel model(settings);
    model.startFaultClock();
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    RecordWriter writer(&file, *recordFormatForPath(path));
    writer.writeHeader();
    TelemetryRecord record;
    record.port = QStringLiteral("ttyUSB0");
    for (int i = 1; i <= 3000; ++i) {
        model.advance(100);
        record.timeMs = startMs + i * 100;
        record.telemetry = model.telemetry();
        writer.write(record);
    }
    QVERIFY(writer.flush());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The report's text, a line per line of the PDF (pdftotext -layout) or per paragraph,
// heading and table row of the HTML, its cells two spaces apart. Empty, with
// *error set, when it does not read.
QStringList reportLines(const QString &path, QString *error)
{
    QStringList lines;
    if (path.endsWith(QLatin1String(".pdf"))) {
        Process pdftotext = start(QStringLiteral("pdftotext"), {"-layout", path, "-"});
        if (!ends(pdftotext) || pdftotext->exitCode() != 0) {
            *error = QStringLiteral("pdftotext failed: ") + pdftotext->readAllStandardError();
            return {};
        }
        return QString::fromUtf8(pdftotext->readAllStandardOutput()).split(QLatin1Char('\n'));
    }
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    QString line;
    while (!xml.atEnd()) {
        xml.readNext();
        const QString name = xml.name().toString();
        if (xml.isStartElement() && (name == QLatin1String("td") || name == QLatin1String("th")))
            line += QStringLiteral("  ");
        else if (xml.isCharacters() && !xml.isWhitespace())
            line += xml.text().toString();
        else if (xml.isEndElement() && QStringList{"tr", "p", "h1", "h2", "title"}.contains(name)) {
            lines << line.trimmed();
            line.clear();
        }
    }
    *error = xml.errorString();
    return xml.hasError() ? QStringList() : lines;
}

// Whether a line holds the words one after the other; then, when given, the rest of
// the line matches tail.
bool hasLine(const QStringList &lines, const QStringList &words, const QString &tail = QString())
{
    QStringList escaped;
    for (const QString &word : words)
        escaped << QRegularExpression::escape(word);
    const QRegularExpression pattern(QStringLiteral("(^|\\s)") +
                                     escaped.join(QStringLiteral("\\s+")) +
                                     (tail.isEmpty() ? QStringLiteral("(\\s|$)") : tail));
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString &line) { return pattern.match(line).hasMatch(); });
}

} // namespace

class ReportTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

    Process report(const QStringList &arguments)
    {
        return start(QStringLiteral(KELDRO_CLI_PATH), QStringList{"report"} + arguments);
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        writeRecording(path("night.csv"), 1796662683000);
        writeFile(path("pass.toml"), "[cells]\nmax_mV = 4400\n[protection]\nfail_on = [\"oc\"]\n");
        writeFile(path("fail.toml"),
                  "[cells]\nmin_mV = 3000\nmax_mV = 4250\n[health]\nmax_resistance_mOhm = 4\n");
        writeFile(path("unmeasured.toml"),
                  "[protection]\nfail_on = [\"oc\"]\n[health]\nmin_capacity_Ah = 40\n");
        writeFile(path("bad.csv"), csvHeaderRow() + "x\n");
    }

    // verdict: the report's, on its first page; empty where no report is written and
    // standard error says why.
    void statuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("says");
        const QString night = path("night.csv");
        auto judged = [&](const char *limits, const char *out) {
            return QStringList{night, "--limits", path(QLatin1String(limits)), "-o",
                               path(QLatin1String(out))};
        };
        QTest::newRow("pass") << judged("pass.toml", "pass.pdf") << 0 << "PASS"
                              << "PASS";
        QTest::newRow("fail") << judged("fail.toml", "fail.pdf") << 4 << "FAIL"
                              << "FAIL";
        QTest::newRow("health not measured")
            << judged("unmeasured.toml", "error.pdf") << 1 << "ERROR"
            << "ERROR";
        QTest::newRow("not judged")
            << QStringList{night, "-o", path("unjudged.html")} << 0 << "NOT JUDGED"
            << "NOT JUDGED";
        QTest::newRow("unknown extension")
            << QStringList{night, "-o", path("night.docx")} << 2 << ""
            << "unknown extension";
        QTest::newRow("no such recording")
            << QStringList{path("none.csv"), "-o", path("none.pdf")} << 2 << ""
            << "No such file or directory";
        QTest::newRow("malformed recording")
            << QStringList{path("bad.csv"), "-o", path("bad.pdf")} << 2 << ""
            << "line 2";
        QTest::newRow("folder not writable")
            << QStringList{night, "-o", path("night.csv/report.pdf")} << 2 << ""
            << "Not a directory";
    }
    void statuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, verdict);
        QFETCH(QString, says);
        Process cli = report(arguments);
        QVERIFY(ends(cli));
        const QString output = QString::fromUtf8(cli->readAllStandardError());
        QVERIFY2(output.contains(says), qPrintable(output));
        QCOMPARE(cli->exitCode(), status);
        const QString out = arguments.at(arguments.indexOf(QStringLiteral("-o")) + 1);
        QCOMPARE(QFileInfo::exists(out), !verdict.isEmpty());
        if (verdict.isEmpty())
            return;
        QString error;
        const QStringList lines = reportLines(out, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(hasLine(lines, verdict.split(QLatin1Char(' '))),
                 qPrintable(lines.mid(0, 10).join(QLatin1Char('\n'))));
    }

    // A report says what check --recording and health say of the same file: each row
    // of check's table, and each cell's resistance, word for word.
    void agreesWithCheck_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("pdf") << "agree.pdf";
        QTest::newRow("html") << "agree.html";
    }
    void agreesWithCheck()
    {
        QFETCH(QString, file);
        Process check =
            start(QStringLiteral(KELDRO_CLI_PATH),
                  {"check", "--recording", path("night.csv"), "--limits", path("fail.toml")});
        QVERIFY(ends(check));
        QCOMPARE(check->exitCode(), 4);
        Process cli = report({path("night.csv"), "--limits", path("fail.toml"), "-o", path(file)});
        QVERIFY(ends(cli));
        QCOMPARE(cli->exitCode(), 4);
        QString error;
        const QStringList lines = reportLines(path(file), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(hasLine(lines, {"FAIL"}));

        // PORT CHECK LIMIT WORST AT RAISED RESULT, then a blank line and the verdict.
        const QStringList table =
            QString::fromUtf8(check->readAllStandardOutput()).split(QLatin1Char('\n'));
        int rows = 0;
        for (const QString &line : table.mid(1)) {
            if (line.isEmpty())
                break;
            QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            QCOMPARE(words.size(), 7);
            // The report has when the alarm was first raised before the result: "-",
            // or a date and a time.
            const QString result = words.takeLast();
            words.removeFirst();
            QVERIFY2(
                hasLine(lines, words, QStringLiteral("\\s+(-|\\S+ \\S+)\\s+%1\\s*$").arg(result)),
                qPrintable(line));
            ++rows;
        }
        QCOMPARE(rows, 4); // cells.min_mV, cells.max_mV, protection, health.max_resistance_mOhm
        QVERIFY(hasLine(lines, {"uv", "2026-12-07"}));

        Process health = start(QStringLiteral(KELDRO_CLI_PATH),
                               {"health", path("night.csv"), "--format", "json"});
        QVERIFY(ends(health));
        const QJsonArray cells = QJsonDocument::fromJson(health->readAllStandardOutput())
                                     .object()
                                     .value(QLatin1String("cells"))
                                     .toArray();
        QCOMPARE(cells.size(), 15);
        for (const QJsonValue &value : cells) {
            const QJsonObject cell = value.toObject();
            const QStringList words{
                QString::number(cell.value(QLatin1String("cell")).toInt()),
                QString::number(cell.value(QLatin1String("resistance_mOhm")).toDouble(), 'f', 2),
                QString::number(cell.value(QLatin1String("resistance_iqr_mOhm")).toDouble(), 'f',
                                2),
                QString::number(cell.value(QLatin1String("steps")).toInt())};
            // Then the sag, null in five minutes, and the verdict.
            const QString verdict = cell.value(QLatin1String("verdict")).toString();
            QVERIFY2(hasLine(lines, words, QStringLiteral("\\s+\\S+\\s+%1\\s*$").arg(verdict)),
                     qPrintable(words.join(QLatin1Char(' '))));
        }
        QCOMPARE(cells.at(6).toObject().value(QLatin1String("verdict")).toString(),
                 QStringLiteral("high resistance"));
    }

    void cutShortRecording_saysSo()
    {
        QFile whole(path("night.csv"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        writeFile(path("cut.csv"), whole.readAll().chopped(40));
        Process cli = report({path("cut.csv"), "-o", path("cut.pdf")});
        QVERIFY(ends(cli));
        QCOMPARE(cli->exitCode(), 0);
        QString error;
        const QStringList lines = reportLines(path("cut.pdf"), &error);
        QVERIFY(hasLine(lines, {"cut", "short:"}));
        QVERIFY(hasLine(lines, {"2999"}));
    }

    // keldro-cli runs the keldro-report beside it, else the one on PATH, else says so.
    void withoutKeldroReport_saysWhereItLooked()
    {
        QTemporaryDir alone;
        const QString cli = alone.filePath(QStringLiteral("keldro-cli"));
        QVERIFY(QFile::copy(QStringLiteral(KELDRO_CLI_PATH), cli));
        Process process(new QProcess);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), alone.path());
        process->setProcessEnvironment(environment);
        process->start(cli, {"report", path("night.csv"), "-o", path("never.pdf")});
        QVERIFY(ends(process));
        QVERIFY(process->readAllStandardError().contains("keldro-report is neither beside"));
        QCOMPARE(process->exitCode(), 3);
    }

    // A report that does not fit leaves nothing under its name, nor half of itself.
    void fullDisk_noFileLeft()
    {
        QTemporaryDir small;
        if (mount("tmpfs", qPrintable(small.path()), "tmpfs", 0, "size=16k") != 0)
            QSKIP("cannot mount a tmpfs here (not root?)");
        const QString out = small.filePath(QStringLiteral("night.pdf"));
        Process cli = report({path("night.csv"), "-o", out});
        QVERIFY(ends(cli));
        const QString output = QString::fromUtf8(cli->readAllStandardError());
        const QStringList left = QDir(small.path()).entryList(QDir::Files | QDir::Hidden);
        umount(qPrintable(small.path()));
        QVERIFY2(output.contains(QLatin1String("No space left on device")), qPrintable(output));
        QCOMPARE(cli->exitCode(), 1);
        QCOMPARE(left, QStringList());
    }

    // Export report… of the live session: the window's judge and trends, on a worker.
    void windowExportsLiveSession()
    {
        WindowJudge judge;
        auto *window = new QWidget;
        auto *exporter = new ReportExport(window, &judge);
        TrendStore store;
        PackModel model{PackSettings()};
        TelemetryRecord record;
        record.port = QStringLiteral("ttyACM3");
        for (int i = 0; i < 600; ++i) {
            model.advance(100);
            record.timeMs = 1796662683000 + i * 100;
            record.telemetry = model.telemetry();
            judge.frameAccepted(record);
            store.add(record.timeMs, record.telemetry);
            exporter->frameAccepted(record);
        }
        QSignalSpy finished(exporter, &ReportExport::finished);
        QVERIFY(exporter->startSession(window, store, path("live.pdf")));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QVERIFY2(finished.at(0).at(1).toBool(), qPrintable(finished.at(0).at(2).toString()));
        QString error;
        const QStringList lines = reportLines(path("live.pdf"), &error);
        QVERIFY2(hasLine(lines, {"NOT", "JUDGED"}),
                 qPrintable(lines.mid(0, 20).join(QLatin1Char('\n'))));
        QVERIFY(hasLine(lines, {"ttyACM3,", "live", "session"}));
        delete window;
    }
};

QTEST_MAIN(ReportTest)
#include "tst_report.moc"
