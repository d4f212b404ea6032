// keldro-cli against keldro-sim, each in a process of its own, over pseudo-terminals:
// what a script or a lab's overnight run sees.
#include "childprocess.h"
#include "judge/judgeevent.h"
#include "packmodel.h"
#include "protocol/telemetryframe.h"
#include "record/recordreader.h"
#include "record/recordwriter.h"
#include "workedexamples.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <array>
#include <csignal>
#include <cstring>
#include <memory>

namespace {

// A simulated board; its first line is the path of its pseudo-terminal.
Process startBoard(const QStringList &arguments, QString *path)
{
    Process board = start(QStringLiteral(KELDRO_SIM_PATH), arguments);
    board->waitForReadyRead(10000);
    *path = QString::fromLocal8Bit(board->readLine()).trimmed();
    return board;
}

// QProcess::waitForFinished() is false for a process whose end has already been seen.
bool ends(const Process &process, int timeoutMs = 10000)
{
    return process->state() == QProcess::NotRunning || process->waitForFinished(timeoutMs);
}

Process startCli(const QStringList &arguments)
{
    return start(QStringLiteral(KELDRO_CLI_PATH), arguments);
}

QVector<TelemetryRecord> readRecording(const QByteArray &bytes, QString *error)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    RecordReader reader(&buffer);
    QVector<TelemetryRecord> records;
    TelemetryRecord record;
    while (reader.next(&record))
        records.append(record);
    *error = reader.errorString();
    return records;
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The rows as CSV with time and port left out: what a board said, not when or where.
QByteArray withoutTimeAndPort(QVector<TelemetryRecord> records)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    RecordWriter writer(&buffer, RecordFormat::Csv);
    for (TelemetryRecord &record : records) {
        record.timeMs = 0;
        record.port.clear();
        writer.write(record);
    }
    writer.flush();
    return buffer.data();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

// A healthy 15-cell pack at rest.
TelemetryRecord restingFrame(qint64 timeMs, const QString &port)
{
    TelemetryRecord record{timeMs, port, Telemetry()};
    Telemetry &t = record.telemetry;
    t.cellCount = 15;
    t.cellMillivolts.fill(3320);
    t.batteryMillivolts = t.packMillivolts = 49800;
    t.stateOfCharge = 50;
    t.ntc1 = t.ntc2 = t.ntc3 = t.selfDischargeNtc = t.mosfetNtc = 250;
    return record;
}

// What a JUnit report holds: per testsuite its testcases, each with its failure's
// message, "error: " and its message, or "skipped: " and its text (empty when it
// passed), in the file's order.
using JUnitSuites = QVector<QPair<QString, QVector<QPair<QString, QString>>>>;
JUnitSuites readJUnit(const QByteArray &xml, QString *error)
{
    JUnitSuites suites;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString name = reader.attributes().value(QLatin1String("name")).toString();
        const QString message = reader.attributes().value(QLatin1String("message")).toString();
        if (reader.name() == QLatin1String("testsuite"))
            suites.append({name, {}});
        else if (reader.name() == QLatin1String("testcase") && !suites.isEmpty())
            suites.last().second.append({name, QString()});
        else if (reader.name() == QLatin1String("failure") && !suites.isEmpty())
            suites.last().second.last().second = message;
        else if (reader.name() == QLatin1String("error") && !suites.isEmpty())
            suites.last().second.last().second = QStringLiteral("error: ") + message;
        else if (reader.name() == QLatin1String("skipped") && !suites.isEmpty())
            suites.last().second.last().second =
                QStringLiteral("skipped: ") + reader.readElementText();
    }
    *error = reader.errorString();
    return suites;
}

// The rules of the JUnit schema that Jenkins and JUnit 5 ship (junit-4.xsd), as far as
// a report can break them: each element's attributes and children, in its order; and
// what CI dashboards read: testcases with a time, testsuites with a timestamp and
// host, counts that match the testcases. The first problem, or nothing.
QString junitProblem(const QByteArray &xml)
{
    struct Rule
    {
        QStringList attributes; // the first `required` must be there
        int required;
        QStringList children; // in the schema's order
    };
    const QHash<QString, Rule> rules{
        {"testsuites",
         {{"tests", "failures", "errors", "name", "time", "disabled"}, 3, {"testsuite"}}},
        {"testsuite",
         {{"name", "tests", "failures", "errors", "skipped", "time", "timestamp", "hostname",
           "disabled", "id", "package"},
          8,
          {"properties", "testcase", "system-out", "system-err"}}},
        {"properties", {{}, 0, {"property"}}},
        {"property", {{"name", "value"}, 2, {}}},
        {"testcase",
         {{"name", "time", "classname", "assertions", "status"},
          2,
          {"skipped", "error", "failure", "system-out", "system-err"}}},
        {"skipped", {{}, 0, {}}},
        {"error", {{"type", "message"}, 0, {}}},
        {"failure", {{"type", "message"}, 0, {}}},
    };
    const QStringList counted{"testcase", "failure", "error", "skipped"};
    const QStringList counts{"tests", "failures", "errors", "skipped"};
    struct Open
    {
        QString name;
        QXmlStreamAttributes attributes;
        int lastChild = -1;
        std::array<int, 4> seen{}; // testcases, failures, errors, skipped inside
    };
    QVector<Open> open{{"", {}, -1, {}}};
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString name = reader.name().toString();
            const Rule rule = rules.value(name);
            const QStringList allowed = open.size() == 1 ? QStringList{"testsuites"}
                                                         : rules.value(open.last().name).children;
            const int at = allowed.indexOf(name);
            if (at < 0 || at < open.last().lastChild)
                return QStringLiteral("<%1> in <%2>").arg(name, open.last().name);
            open.last().lastChild = at;
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                if (!rule.attributes.contains(attribute.name().toString()))
                    return QStringLiteral("<%1 %2>").arg(name, attribute.name().toString());
            for (int i = 0; i < rule.required; ++i)
                if (!reader.attributes().hasAttribute(rule.attributes.at(i)))
                    return QStringLiteral("<%1> without %2").arg(name, rule.attributes.at(i));
            if (const int kind = counted.indexOf(name); kind >= 0)
                for (Open &outer : open)
                    ++outer.seen[size_t(kind)];
            open.append({name, reader.attributes(), -1, {}});
        } else if (token == QXmlStreamReader::EndElement) {
            const Open done = open.takeLast();
            for (int i = 0; i < counts.size(); ++i)
                if (done.attributes.hasAttribute(counts[i]) &&
                    done.attributes.value(counts[i]).toInt() != done.seen[size_t(i)])
                    return QStringLiteral("<%1 %2> does not count its testcases")
                        .arg(done.name, counts[i]);
        }
    }
    return reader.hasError() ? reader.errorString() : QString();
}

// Two minutes at 1 Hz of a pack with a weak cell 7 under a load switched between 5 A and
// 30 A every 5 s, one model per port, their rows interleaved.
void writeLoadedRecording(const QString &path, const QStringList &ports)
{
    PackSettings settings;
    settings.seed = 3;
    settings.cellResistanceMilliohm = {{7, 5.5}};
    settings.load = LoadCycle{-5000, -30000, 5};
    std::vector<PackModel> models(size_t(ports.size()), PackModel(settings));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    RecordWriter writer(&file, *recordFormatForPath(path));
    writer.writeHeader();
    for (int s = 1; s <= 120; ++s) {
        for (int i = 0; i < ports.size(); ++i) {
            models[size_t(i)].advance(1000);
            writer.write({1796662683000 + s * 1000, ports.at(i), models[size_t(i)].telemetry()});
        }
    }
    writer.flush();
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }

private slots:
    void recordBothLayouts_readBack_data()
    {
        QTest::addColumn<int>("layout");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("poll");
        QTest::newRow("type 1, csv, board answers polls") << 1 << "one.csv" << true;
        QTest::newRow("type 1, jsonl") << 1 << "one.jsonl" << false;
        QTest::newRow("type 2, csv") << 2 << "two.csv" << false;
        QTest::newRow("type 2, jsonl, board answers polls") << 2 << "two.jsonl" << true;
    }
    void recordBothLayouts_readBack()
    {
        QFETCH(int, layout);
        QFETCH(QString, file);
        QFETCH(bool, poll);
        QStringList board{"--interval", "50", "--layout", QString::number(layout),
                          "--model",    "5",  "--split"};
        if (poll)
            board << "--on-poll";
        QString port;
        Process sim = startBoard(board, &port);
        QStringList record{"record", port, "--count", "5", "-o", dir.filePath(file)};
        if (poll)
            record << "--poll";
        Process cli = startCli(record);
        QVERIFY(ends(cli, 10000));
        QCOMPARE(cli->exitCode(), 0);
        QString error;
        const auto records = readRecording(fileContents(dir.filePath(file)), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(records.size(), 5);
        QCOMPARE(int(records.last().telemetry.layout), layout);
        QCOMPARE(records.last().port, port);
        QCOMPARE(records.last().telemetry.model, quint8(5));
        QVERIFY(records.last().telemetry.cellMillivolts[0] > 2800);
    }

    void recordReplayRecord_sameRowsApartFromTimeAndPort()
    {
        QString port;
        Process board = startBoard({"--interval", "40", "--noise", "0.3", "--seed", "2"}, &port);
        Process first = startCli(
            {"record", port, "--count", "12", "-o", path("first.csv"), "--text", path("text.log")});
        QVERIFY(ends(first, 10000));
        QVERIFY(fileContents(path("text.log")).contains("Z " + port.toLocal8Bit() + ' '));

        Process replay = startBoard({"--replay", path("first.csv"), "--interval", "20"}, &port);
        Process second = startCli({"record", port, "--count", "12", "-o", path("second.jsonl")});
        QVERIFY(ends(second, 10000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(ends(replay, 5000));
        QCOMPARE(replay->exitCode(), 0);

        QString error;
        const QByteArray before =
            withoutTimeAndPort(readRecording(fileContents(path("first.csv")), &error));
        const QByteArray after =
            withoutTimeAndPort(readRecording(fileContents(path("second.jsonl")), &error));
        QCOMPARE(before.count('\n'), 12);
        QCOMPARE(after, before);
    }

    // A power cut left half a row and a tail of NUL bytes: the rows before it play.
    void replayCutShortRecording_playsItsRows()
    {
        QFile cut(path("cut.csv"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        RecordWriter writer(&cut, RecordFormat::Csv);
        writer.writeHeader();
        TelemetryRecord record{0, QStringLiteral("ttyUSB0"),
                               judgeChunk(WorkedExamples::type2Frame).telemetry};
        for (int i = 0; i < 6; ++i) {
            record.timeMs = 1796662683123 + i * 20;
            writer.write(record);
        }
        QVERIFY(writer.flush());
        cut.write("2026-12-07T16:58:04.000Z,ttyUSB0,2,36" + QByteArray(4096, '\0'));
        cut.close();

        QString port;
        Process replay = startBoard({"--replay", path("cut.csv"), "--interval", "20"}, &port);
        Process cli = startCli({"record", port, "--count", "6", "-o", path("played.csv")});
        QVERIFY(ends(cli, 10000));
        QCOMPARE(cli->exitCode(), 0);
        QVERIFY(ends(replay, 5000));
        QCOMPARE(replay->exitCode(), 0);
        const QByteArray said = replay->readAllStandardError();
        QVERIFY2(said.contains("cut.csv: the last line is cut short: 6 frames read"), said);
    }

    // SIGHUP: the terminal or the ssh session closes.
    void signal_fileWholeAndSummary_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signal_fileWholeAndSummary()
    {
        QFETCH(int, signal);
        const QString file = dir.filePath(QTest::currentDataTag() + QStringLiteral(".csv"));
        QString port;
        Process board = startBoard({"--interval", "50"}, &port);
        Process cli = startCli({"record", port, "-o", file});
        QTRY_VERIFY_WITH_TIMEOUT(fileContents(file).count('\n') > 15, 10000);
        ::kill(pid_t(cli->processId()), signal);
        QVERIFY(ends(cli, 5000));
        QCOMPARE(cli->exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli->exitCode(), 0);
        QVERIFY(cli->readAllStandardError().contains(QByteArray(" frames, 0 rejected")));
        const QByteArray bytes = fileContents(file);
        QString error;
        const auto records = readRecording(bytes, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(records.size() >= 15);
        QVERIFY(bytes.endsWith('\n'));
    }

    // A day's recording that grows with each run: keldro-cli record PORT >> day.csv.
    void standardOutputAppended_oneHeader()
    {
        QString port;
        Process board = startBoard({"--interval", "50"}, &port);
        for (int run = 0; run < 2; ++run) {
            Process cli(new QProcess);
            cli->setStandardOutputFile(path("day.csv"), QIODevice::Append);
            cli->start(QStringLiteral(KELDRO_CLI_PATH), {"record", port, "--count", "3"});
            QVERIFY(ends(cli));
            QCOMPARE(cli->exitCode(), 0);
        }
        QString error;
        QCOMPARE(readRecording(fileContents(path("day.csv")), &error).size(), 6);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    // The port's path is a symlink that goes away with its board and comes back
    // pointing to another one, as /dev/serial/by-id does with an adapter.
    void portVanishesAndReturns_data()
    {
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("reconnect") << true;
        QTest::newRow("--no-reconnect") << false;
    }
    void portVanishesAndReturns()
    {
        QFETCH(bool, reconnect);
        const QString link = path("board");
        QString pty;
        Process board = startBoard({"--interval", "50"}, &pty);
        QFile::remove(link);
        QVERIFY(QFile::link(pty, link));
        QStringList arguments{"record", link, "--format", "jsonl"};
        if (!reconnect)
            arguments << "--no-reconnect";
        Process cli = startCli(arguments);
        QByteArray rows;
        QTRY_VERIFY_WITH_TIMEOUT((rows += cli->readAllStandardOutput()).count('\n') >= 3, 5000);

        board.reset();
        QFile::remove(link);
        QByteArray report;
        QTRY_VERIFY_WITH_TIMEOUT((report += cli->readAllStandardError()).contains(" lost at "),
                                 5000);
        if (!reconnect) {
            QVERIFY(ends(cli, 5000));
            QCOMPARE(cli->exitCode(), 1);
            return;
        }
        Process second = startBoard({"--interval", "50", "--model", "6"}, &pty);
        QVERIFY(QFile::link(pty, link));
        QTRY_VERIFY_WITH_TIMEOUT((rows += cli->readAllStandardOutput()).contains("BMS-BRISQ"),
                                 5000);
        QTRY_VERIFY_WITH_TIMEOUT((report += cli->readAllStandardError()).contains("back after"),
                                 5000);
        ::kill(pid_t(cli->processId()), SIGTERM);
        QVERIFY(ends(cli, 5000));
        QCOMPARE(cli->exitCode(), 0);
        QVERIFY(cli->readAllStandardError().contains("1 gaps of"));
        QFile::remove(link);
    }

    // A recorder held up for 500 ms (a loaded machine, a stopped terminal) finds the
    // frames waiting in the line and takes every one of them.
    void stoppedProcess_everyFrameARow()
    {
        QString port;
        Process board = startBoard({"--interval", "50"}, &port);
        Process cli = startCli({"record", port, "--count", "30", "--format", "csv"});
        QTRY_VERIFY_WITH_TIMEOUT(cli->bytesAvailable() > 1000, 5000);
        ::kill(pid_t(cli->processId()), SIGSTOP);
        QTest::qWait(500);
        ::kill(pid_t(cli->processId()), SIGCONT);
        QVERIFY(ends(cli, 10000));
        QCOMPARE(cli->exitCode(), 0);
        QVERIFY(cli->readAllStandardError().contains("30 frames, 0 rejected"));
        QString error;
        const auto records = readRecording(cli->readAllStandardOutput(), &error);
        QCOMPARE(records.size(), 30);
        // The frames sent during the stop come in one pile right after it.
        auto gap = [&records](int i) { return records[i].timeMs - records[i - 1].timeMs; };
        int resumed = 1;
        for (int i = 2; i < records.size(); ++i)
            resumed = gap(i) > gap(resumed) ? i : resumed;
        QVERIFY(gap(resumed) >= 400);
        QVERIFY(resumed + 8 < records.size());
        QVERIFY(records[resumed + 8].timeMs - records[resumed].timeMs < 100);
    }

    // keldro-cli check against keldro-sim: the exit status a test station acts on, and
    // the line of the table that says why.
    void check_exitStatus_data()
    {
        QTest::addColumn<QStringList>("board");
        QTest::addColumn<QStringList>("check"); // after "check PORT"; {dir} filled in
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // a pattern, on standard output or error
        const QString example = QStringLiteral(KELDRO_LIMITS_EXAMPLE);
        QTest::newRow("0 within every limit")
            << QStringList{"--interval", "50"} << QStringList{"--limits", example, "--count", "10"}
            << 0 << "PASS, no alarm raised in 10 frames";
        QTest::newRow("4 a cell above its limit, back within it")
            << QStringList{"--interval", "50", "--fault", "cell7=4300mV@0.2-0.4"}
            << QStringList{"--limits", example, "--count", "15"} << 4
            << "cells.max_mV +4250 +4300 +cell7 +1 +FAIL";
        QTest::newRow("4 a flag of fail_on") << QStringList{"--interval", "50", "--fault", "uv@0"}
                                             << QStringList{"--limits", example, "--count", "5"}
                                             << 4 << "protection +all +uv +- +1 +FAIL";
        QTest::newRow("1 no frame")
            << QStringList{"--on-poll"} << QStringList{"--limits", example, "--duration", "1"} << 1
            << "ERROR, no frame came from";
        QTest::newRow("2 a typo in the limits file")
            << QStringList{} << QStringList{"--limits", "{dir}/typo.toml", "--count", "1"} << 2
            << "typo.toml:3: cells.max_mv: unknown key";
    }
    void check_exitStatus()
    {
        QFETCH(QStringList, board);
        QFETCH(QStringList, check);
        QFETCH(int, status);
        QFETCH(QString, says);
        writeFile(path("typo.toml"), "[cells]\nmax_mV = 4250\nmax_mv = 4300\n");
        QString port;
        Process sim = startBoard(board, &port);
        for (QString &argument : check)
            argument.replace(QLatin1String("{dir}"), dir.path());
        Process cli = startCli(QStringList{"check", port} + check);
        QVERIFY(ends(cli, 15000));
        const QString output =
            QString::fromUtf8(cli->readAllStandardOutput() + cli->readAllStandardError());
        QVERIFY2(output.contains(QRegularExpression(says)), qPrintable(output));
        QCOMPARE(cli->exitCode(), status);
    }

    // A layout 1 board carries no protection flags: that testcase is skipped, not passed.
    void check_junitHasASuitePerPortAndACasePerKey()
    {
        QString faulty, layout1;
        Process first = startBoard({"--interval", "50", "--fault", "cell7=4300mV@0"}, &faulty);
        Process second = startBoard({"--interval", "50", "--layout", "1"}, &layout1);
        writeFile(path("two.toml"), "[cells]\nmax_mV = 4250\n[soc]\nmin_pct = 5\n");
        Process cli = startCli({"check", faulty, layout1, "--limits", path("two.toml"),
                                "--duration", "1.5", "--junit", path("report.xml")});
        QVERIFY(ends(cli, 15000));
        QCOMPARE(cli->exitCode(), 4);
        const QByteArray xml = fileContents(path("report.xml"));
        const QString problem = junitProblem(xml);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QString error;
        const JUnitSuites suites = readJUnit(xml, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        using Cases = QVector<QPair<QString, QString>>;
        QCOMPARE(suites,
                 (JUnitSuites{
                     {faulty, Cases{{"cells.max_mV", "cell 7 at 4300 mV, above 4250 mV; 1 raised "
                                                     "event"},
                                    {"soc.min_pct", ""},
                                    {"protection", ""},
                                    {"link", ""}}},
                     {layout1, Cases{{"cells.max_mV", ""},
                                     {"soc.min_pct", ""},
                                     {"protection", "skipped: no frame carried the protection "
                                                    "flags (a layout 1 frame has none)"},
                                     {"link", ""}}}}));
        QVERIFY(QString::fromUtf8(cli->readAllStandardOutput())
                    .contains(QRegularExpression(" protection +all +- +- +0 +n/a\n")));
    }

    // keldro-sim --count stops mid-check; with a board back on the same path, the
    // link returns. Frames stopped for longer than 3 s fail the link; a board that does
    // not come back ends the check in error.
    void check_linkLostMidCheck_data()
    {
        QTest::addColumn<int>("backAfterMs"); // -1: never
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("junit"); // the link testcase's
        QTest::newRow("not back: error") << -1 << 1 << "link +3 +[0-9.]+ +- +0 +ERROR"
                                         << "error: link lost at ";
        QTest::newRow("back at once: an event") << 0 << 0 << "link +3 +[0-9.]+ +- +0 +PASS"
                                                << "";
        QTest::newRow("back after 4 s: fail") << 4000 << 4 << "link +3 +[4-9][0-9.]* +- +1 +FAIL"
                                              << "no good frame for ";
    }
    void check_linkLostMidCheck()
    {
        QFETCH(int, backAfterMs);
        QFETCH(int, status);
        QFETCH(QString, row);
        QFETCH(QString, junit);
        const QString link = path("lost");
        QString pty;
        Process board = startBoard({"--interval", "50", "--count", "20"}, &pty);
        QFile::remove(link);
        QVERIFY(QFile::link(pty, link));
        writeFile(path("max.toml"), "[cells]\nmax_mV = 4250\n");
        Process cli = startCli({"check", link, "--limits", path("max.toml"), "--duration", "7",
                                "--junit", path("lost.xml")});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += cli->readAllStandardError()).contains(" lost at "), 5000);
        // At once: the pseudo-terminal's number soon goes to another program.
        QFile::remove(link);
        Process second;
        if (backAfterMs >= 0) {
            QTest::qWait(backAfterMs); // the board away for that long
            second = startBoard({"--interval", "50"}, &pty);
            QVERIFY(QFile::link(pty, link));
        }
        QVERIFY(ends(cli, 15000));
        const QString table = QString::fromUtf8(cli->readAllStandardOutput());
        QVERIFY2(table.contains(QRegularExpression(row)), qPrintable(table));
        QCOMPARE(cli->exitCode(), status);
        QString error;
        const QString linkCase =
            readJUnit(fileContents(path("lost.xml")), &error).value(0).second.value(2).second;
        QVERIFY2(junit.isEmpty() ? linkCase.isEmpty() : linkCase.contains(junit),
                 qPrintable(linkCase));
        QFile::remove(link);
    }

    // A check that cannot be made, or ends early, replaces an earlier report with one
    // that says why.
    void check_junitSaysWhatEndedTheRun_data()
    {
        QTest::addColumn<QStringList>("check"); // {dir} and {port} filled in
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("2 a typo in the limits file")
            << QStringList{"--recording", "{dir}/night.csv", "--limits", "{dir}/typo.toml"} << 2
            << "typo.toml:3: cells.max_mv: unknown key";
        QTest::newRow("2 a malformed recording")
            << QStringList{"--recording", "{dir}/bad.csv", "--limits", "{dir}/max.toml"} << 2
            << "bad.csv: line 2: ";
        QTest::newRow("2 neither --duration nor --count")
            << QStringList{"/dev/ttyUSB97", "--limits", "{dir}/max.toml"} << 2 << "say how long";
        QTest::newRow("3 no such recording")
            << QStringList{"--recording", "{dir}/none.csv", "--limits", "{dir}/max.toml"} << 3
            << "cannot read ";
        QTest::newRow("3 no such port")
            << QStringList{"/dev/ttyUSB97", "--limits", "{dir}/max.toml", "--count", "1"} << 3
            << "no such port: /dev/ttyUSB97";
        QTest::newRow("1 the events file on a full disk")
            << QStringList{"{port}", "--limits", "{dir}/max.toml", "--count",
                           "5",      "--events", "/dev/full"}
            << 1 << "writing /dev/full failed: " + QString::fromLocal8Bit(strerror(ENOSPC));
    }
    void check_junitSaysWhatEndedTheRun()
    {
        QFETCH(QStringList, check);
        QFETCH(int, status);
        QFETCH(QString, reason);
        writeFile(path("typo.toml"), "[cells]\nmax_mV = 4250\nmax_mv = 4300\n");
        writeFile(path("max.toml"), "[cells]\nmax_mV = 4250\n");
        writeFile(path("bad.csv"), csvHeaderRow() + "x\n");
        writeFile(path("old.xml"), "<testsuites tests=\"1\" failures=\"0\" errors=\"0\"/>\n");
        QString port;
        Process board = startBoard({"--interval", "50"}, &port);
        for (QString &argument : check)
            argument.replace(QLatin1String("{dir}"), dir.path())
                .replace(QLatin1String("{port}"), port);
        Process cli = startCli(QStringList{"check", "--junit", path("old.xml")} + check);
        QVERIFY(ends(cli));
        QCOMPARE(cli->exitCode(), status);
        const QByteArray xml = fileContents(path("old.xml"));
        const QString problem = junitProblem(xml);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QString error;
        const JUnitSuites suites = readJUnit(xml, &error);
        QVERIFY(!suites.isEmpty() && !suites.last().second.isEmpty());
        const QPair<QString, QString> run = suites.last().second.last();
        QCOMPARE(run.first, QStringLiteral("run"));
        QVERIFY2(run.second.startsWith("error: ") && run.second.contains(reason), xml.constData());
    }

    // Last night's recording judged again, with the table and statuses of a live check.
    void checkRecording_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const QString verdicts =
            QStringLiteral("ttyUSB0: PASS, no alarm raised in 3 frames\n"
                           "ttyUSB1: FAIL, 1 alarm raised in 3 frames: cells.max_mV");
        QTest::newRow("csv") << "night.csv" << 4 << verdicts;
        QTest::newRow("json lines") << "night.jsonl" << 4 << verdicts;
        QTest::newRow("no row") << "empty.csv" << 1 << "empty.csv: ERROR, no frame came from it";
        QTest::newRow("malformed") << "bad.csv" << 2 << "bad.csv: line 2: ";
    }
    void checkRecording()
    {
        QFETCH(QString, file);
        QFETCH(int, status);
        QFETCH(QString, says);
        for (const QString &name : {QStringLiteral("night.csv"), QStringLiteral("night.jsonl")}) {
            QFile recording(path(qPrintable(name)));
            recording.open(QIODevice::WriteOnly);
            RecordWriter writer(&recording, *recordFormatForPath(name));
            writer.writeHeader();
            for (int i = 0; i < 6; ++i) {
                TelemetryRecord record =
                    restingFrame(1796662683000 + i * 100, i % 2 ? "ttyUSB1" : "ttyUSB0");
                if (i == 3)
                    record.telemetry.cellMillivolts[6] = 4300;
                writer.write(record);
            }
            writer.flush();
        }
        writeFile(path("empty.csv"), csvHeaderRow());
        writeFile(path("bad.csv"), csvHeaderRow() + "x\n");
        writeFile(path("max.toml"), "[cells]\nmax_mV = 4250\n");
        Process cli =
            startCli({"check", "--recording", dir.filePath(file), "--limits", path("max.toml")});
        QVERIFY(ends(cli));
        const QString output =
            QString::fromUtf8(cli->readAllStandardOutput() + cli->readAllStandardError());
        QVERIFY2(output.contains(says), qPrintable(output));
        QCOMPARE(cli->exitCode(), status);
    }

    // [health] judged at the end of a check of a recording: a FAIL names the cell, a value
    // that could not be measured is an ERROR with the reason, and JUnit has a case per key.
    void checkHealth_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("health");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("says");  // patterns
        QTest::addColumn<QStringList>("junit"); // the testcases: name, and error or failure
        QTest::newRow("FAIL and ERROR")
            << "loaded.csv" << QByteArray("max_resistance_mOhm = 4\nmin_capacity_Ah = 40\n") << 1
            << QStringList{"health.max_resistance_mOhm +4 +5\\.[0-9]+ +cell7 +1 +FAIL",
                           "health.min_capacity_Ah +40 +- +- +0 +ERROR",
                           "ERROR, the SOC moved [0-9]+ points? in the time counted; 20 are "
                           "needed; 1 alarm raised in 120 frames: health.max_resistance_mOhm"}
            << QStringList{"protection", "health.max_resistance_mOhm failure cell 7 at 5.",
                           "health.min_capacity_Ah error the SOC moved"};
        QTest::newRow("within the ratio")
            << "loaded.csv" << QByteArray("max_resistance_ratio = 3\n") << 0
            << QStringList{"health.max_resistance_ratio +3 +2\\.[0-9]+ +cell7 +0 +PASS"}
            << QStringList{"protection", "health.max_resistance_ratio"};
        QTest::newRow("ERROR without a step")
            << "resting.csv" << QByteArray("max_resistance_mOhm = 4\n") << 1
            << QStringList{"ERROR, no current step of 2 A or more"}
            << QStringList{"protection", "health.max_resistance_mOhm error no current step"};
    }
    void checkHealth()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, health);
        QFETCH(int, status);
        QFETCH(QStringList, says);
        QFETCH(QStringList, junit);
        writeLoadedRecording(path("loaded.csv"), {"ttyUSB0"});
        QFile resting(path("resting.csv"));
        resting.open(QIODevice::WriteOnly);
        RecordWriter writer(&resting, RecordFormat::Csv);
        writer.writeHeader();
        for (int i = 0; i < 30; ++i)
            writer.write(restingFrame(1796662683000 + i * 1000, "ttyUSB0"));
        writer.flush();
        resting.close();
        writeFile(path("health.toml"), "[health]\n" + health);
        Process cli = startCli({"check", "--recording", dir.filePath(file), "--limits",
                                path("health.toml"), "--junit", path("health.xml")});
        QVERIFY(ends(cli));
        const QString output = QString::fromUtf8(cli->readAllStandardOutput());
        for (const QString &pattern : says)
            QVERIFY2(output.contains(QRegularExpression(pattern)), qPrintable(output));
        QCOMPARE(cli->exitCode(), status);
        QStringList cases;
        QXmlStreamReader xml(fileContents(path("health.xml")));
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto attributes = xml.attributes();
            if (xml.name() == QLatin1String("testcase"))
                cases << attributes.value(QLatin1String("name")).toString();
            else if (xml.name() == QLatin1String("failure") || xml.name() == QLatin1String("error"))
                cases.last() += QLatin1Char(' ') + xml.name().toString() + QLatin1Char(' ') +
                                attributes.value(QLatin1String("message")).toString();
        }
        QCOMPARE(cases.size(), junit.size());
        for (int i = 0; i < cases.size(); ++i)
            QVERIFY2(cases.at(i).startsWith(junit.at(i)), qPrintable(cases.at(i)));
    }

    // keldro-cli health of recordings and of a live board, and its statuses.
    void health_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after "health"; {dir} and {port} filled in
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // on standard output or error
        QTest::newRow("0 text") << QStringList{"{dir}/loaded.csv"} << 0 << "weakest: cell 7: 5.";
        QTest::newRow("0 json") << QStringList{"{dir}/loaded.csv", "--format", "json"} << 0
                                << "\"weakest\":{\"cell\":7,\"why\":\"cell 7: 5.";
        QTest::newRow("0 two boards in one recording")
            << QStringList{"{dir}/two.jsonl", "--format", "json"} << 0
            << "\"source\":\"{dir}/two.jsonl#ttyUSB1\"";
        QTest::newRow("0 live, json") << QStringList{"{port}", "--count", "100", "--format", "json"}
                                      << 0 << "\"weakest\":{\"cell\":7,";
        QTest::newRow("2 no such recording")
            << QStringList{"{dir}/none.csv"} << 2 << "cannot read {dir}/none.csv";
        QTest::newRow("2 malformed recording")
            << QStringList{"{dir}/bad.csv"} << 2 << "bad.csv: line 2: ";
        QTest::newRow("2 a step of 0 A") << QStringList{"{dir}/loaded.csv", "--min-step", "0"} << 2
                                         << "--min-step: \"0\" is not a current";
        QTest::newRow("3 no such port")
            << QStringList{"/dev/ttyUSB97"} << 3 << "no such port: /dev/ttyUSB97";
    }
    void health()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, says);
        writeLoadedRecording(path("loaded.csv"), {"ttyUSB0"});
        writeLoadedRecording(path("two.jsonl"), {"ttyUSB0", "ttyUSB1"});
        writeFile(path("bad.csv"), csvHeaderRow() + "x\n");
        QString port;
        Process board = startBoard(
            {"--interval", "100", "--cell-resistance", "7=5.5", "--load", "-5/-30/2.5"}, &port);
        for (QString &argument : arguments)
            argument.replace(QLatin1String("{dir}"), dir.path())
                .replace(QLatin1String("{port}"), port);
        says.replace(QLatin1String("{dir}"), dir.path());
        Process cli = startCli(QStringList{"health"} + arguments);
        QVERIFY(ends(cli, 20000));
        const QString output =
            QString::fromUtf8(cli->readAllStandardOutput() + cli->readAllStandardError());
        QVERIFY2(output.contains(says), qPrintable(output));
        QCOMPARE(cli->exitCode(), status);
    }

    // A station's log of events across runs: each run appends its own.
    void recordEvents_appendedAsJsonLines()
    {
        QString port;
        Process board = startBoard({"--interval", "50", "--fault", "cell7=4300mV@0.1-0.3"}, &port);
        writeFile(path("max.toml"), "[cells]\nmax_mV = 4250\n");
        for (int run = 0; run < 2; ++run) {
            Process cli =
                startCli({"record", port, "--count", "10", "-o", path("rows.csv"), "--limits",
                          path("max.toml"), "--events", path("events.jsonl")});
            QVERIFY(ends(cli));
            QCOMPARE(cli->exitCode(), 0);
        }
        QBuffer buffer;
        buffer.setData(fileContents(path("events.jsonl")));
        buffer.open(QIODevice::ReadOnly);
        QVector<JudgeEvent> events;
        QString error;
        QVERIFY2(readEventLines(&buffer, &events, &error), qPrintable(error));
        QStringList seen;
        for (const JudgeEvent &event : events)
            seen << QStringLiteral("%1 %2 %3")
                        .arg(event.name, QLatin1String(eventStateName(event.state)), event.text);
        // The fault's seconds count from the first run's open: the second sees none.
        QCOMPARE(seen, (QStringList{"link opened link opened",
                                    "cell_max raised cell 7 at 4300 mV, above 4250 mV",
                                    "cell_max cleared " + events.value(2).text,
                                    "link opened link opened"}));
        QVERIFY(events.value(2).text.endsWith(QLatin1String("back below 4250 mV")));
    }

    // --events alone: the link's events need no limits. A board that stops for more
    // than 3 s makes the link stale, and its next frame live again.
    void recordEvents_staleAndLiveAgain()
    {
        QString port;
        Process board = startBoard({"--interval", "50"}, &port);
        Process cli =
            startCli({"record", port, "-o", path("quiet.csv"), "--events", path("quiet.jsonl")});
        QTRY_VERIFY_WITH_TIMEOUT(fileContents(path("quiet.csv")).count('\n') > 5, 10000);
        ::kill(pid_t(board->processId()), SIGSTOP);
        QTRY_VERIFY_WITH_TIMEOUT(fileContents(path("quiet.jsonl")).contains("\"stale\""), 10000);
        ::kill(pid_t(board->processId()), SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(fileContents(path("quiet.jsonl")).contains("\"live\""), 10000);
        ::kill(pid_t(cli->processId()), SIGTERM);
        QVERIFY(ends(cli));
        QCOMPARE(cli->exitCode(), 0);
        QBuffer buffer;
        buffer.setData(fileContents(path("quiet.jsonl")));
        buffer.open(QIODevice::ReadOnly);
        QVector<JudgeEvent> events;
        QString error;
        QVERIFY2(readEventLines(&buffer, &events, &error), qPrintable(error));
        QStringList states;
        for (const JudgeEvent &event : events)
            states << QLatin1String(eventStateName(event.state));
        QCOMPARE(states, (QStringList{"opened", "stale", "live"}));
    }

    void exitStatus_data()
    {
        QTest::addColumn<QString>("program");       // "" for keldro-cli
        QTest::addColumn<QStringList>("arguments"); // {port} and {dir} filled in
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const QString sim = QStringLiteral(KELDRO_SIM_PATH);
        QTest::newRow("0 list") << "" << QStringList{"list"} << 0 << "PATH";
        QTest::newRow("0 send -v") << "" << QStringList{"send", "{port}", "off", "-v"} << 0
                                   << "FE EF 01 0C A5 00 00 00 42 F5 09 83";
        const QString fullDisk =
            QStringLiteral("File too large; it holds every row up to the last whole one");
        QTest::newRow("1 full disk")
            << "prlimit" << QStringList{"--fsize=3000", KELDRO_CLI_PATH,    "record", "{port}",
                                        "-o",           "{dir}/limited.csv"}
            << 1 << fullDisk;
        QTest::newRow("1 full disk, standard output")
            << "sh"
            << QStringList{"-c", QStringLiteral("exec prlimit --fsize=3000 %1 record {port} "
                                                "> {dir}/limited.csv")
                                     .arg(KELDRO_CLI_PATH)}
            << 1 << fullDisk;
        QTest::newRow("2 unknown command")
            << "" << QStringList{"play"} << 2 << "unknown command \"play\"";
        QTest::newRow("2 rate 0") << "" << QStringList{"record", "{port}", "--baud", "0"} << 2
                                  << "--baud: \"0\" is not a rate above 0";
        QTest::newRow("2 no such date")
            << "" << QStringList{"send", "{port}", "set-date", "2023-02-29", "--yes"} << 2
            << "2023-02-29";
        QTest::newRow("2 no terminal")
            << "setsid" << QStringList{"-w", KELDRO_CLI_PATH, "send", "{port}", "boot"} << 2
            << "add --yes";
        QTest::newRow("2 malformed replay")
            << sim << QStringList{"--replay", "{dir}/bad.csv"} << 2 << "bad.csv: line 2: 1 fields";
        QTest::newRow("2 URL without a port")
            << "" << QStringList{"record", "rfc2217://rack-pc"} << 2 << "no port";
        QTest::newRow("2 URL of an unknown scheme")
            << "" << QStringList{"send", "telnet://rack-pc:7000", "off"} << 2 << "unknown scheme";
        QTest::newRow("3 connection refused")
            << "" << QStringList{"record", "rfc2217://127.0.0.1:1"} << 3 << "connection refused";
        QTest::newRow("3 no such port")
            << "" << QStringList{"record", "/dev/ttyUSB97"} << 3 << "no such port: /dev/ttyUSB97";
        QTest::newRow("3 file not writable")
            << "" << QStringList{"record", "{port}", "-o", "{dir}/no/such.csv"} << 3
            << "cannot write";
        if (::geteuid() == 0)
            QTest::newRow("3 permission denied")
                << "setpriv" << QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                            KELDRO_CLI_PATH,  "record",          "{port}"}
                << 3 << "permission denied on";
    }
    void exitStatus()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, says);
        QString port;
        Process board = startBoard({"--interval", "250"}, &port);
        QFile bad(path("bad.csv"));
        bad.open(QIODevice::WriteOnly);
        bad.write(csvHeaderRow() + "x\n");
        bad.close();
        for (QString &argument : arguments)
            argument.replace(QLatin1String("{port}"), port)
                .replace(QLatin1String("{dir}"), dir.path());

        Process process =
            start(program.isEmpty() ? QStringLiteral(KELDRO_CLI_PATH) : program, arguments);
        QVERIFY(ends(process, 10000));
        const QString output =
            QString::fromLocal8Bit(process->readAll() + process->readAllStandardError());
        QVERIFY2(output.contains(says), qPrintable(output));
        QCOMPARE(process->exitCode(), status);
        if (QByteArray(QTest::currentDataTag()).startsWith("1 full disk")) {
            const QByteArray bytes = fileContents(path("limited.csv"));
            QString error;
            QVERIFY(!readRecording(bytes, &error).isEmpty());
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QVERIFY(bytes.size() <= 3000 && bytes.endsWith('\n'));
        }
    }
};

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
