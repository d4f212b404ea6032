#include "junitreport.h"

#include "record/recordformat.h"

#include <QDateTime>
#include <QIODevice>
#include <QSysInfo>
#include <QXmlStreamWriter>

namespace {

const QString SuitesName = QStringLiteral("keldro-cli check");

QString seconds(qint64 ms)
{
    return QString::number(double(qMax<qint64>(0, ms)) / 1000.0, 'f', 3);
}

QString recordTime(qint64 utcMs)
{
    QByteArray text;
    appendRecordTime(text, utcMs);
    return QString::fromLatin1(text);
}

QString raisedCount(int raised)
{
    return raised == 1 ? QStringLiteral("1 raised event")
                       : QStringLiteral("%1 raised events").arg(raised);
}

struct Counts
{
    int tests = 0;
    int failures = 0;
    int errors = 0;
    int skipped = 0;

    void add(CheckResult result)
    {
        ++tests;
        failures += result == CheckResult::Fail;
        errors += result == CheckResult::Error;
        skipped += result == CheckResult::NotApplicable;
    }
};

void writeCounts(QXmlStreamWriter &xml, const Counts &counts, bool withSkipped)
{
    xml.writeAttribute(QStringLiteral("tests"), QString::number(counts.tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(counts.failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(counts.errors));
    if (withSkipped)
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(counts.skipped));
}

void startSuite(QXmlStreamWriter &xml, const QString &name, const Counts &counts, qint64 startMs,
                qint64 durationMs)
{
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), name);
    writeCounts(xml, counts, true);
    xml.writeAttribute(QStringLiteral("time"), seconds(durationMs));
    // The schema's timestamp has no zone and no fraction; it is UTC, as every time
    // keldro writes.
    xml.writeAttribute(QStringLiteral("timestamp"), recordTime(startMs).left(19));
    xml.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());
}

void writeTestcase(QXmlStreamWriter &xml, const PortCheck &check, const CheckRow &row)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), check.port);
    xml.writeAttribute(QStringLiteral("name"), row.name);
    xml.writeAttribute(QStringLiteral("time"), seconds(check.endMs - check.startMs));
    switch (row.result) {
    case CheckResult::Pass:
        break;
    case CheckResult::NotApplicable:
        xml.writeTextElement(QStringLiteral("skipped"), row.reason);
        break;
    case CheckResult::Error:
        xml.writeStartElement(QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("type"), check.hasFrames() ? QStringLiteral("link_lost")
                                                                     : QStringLiteral("no_frame"));
        xml.writeAttribute(QStringLiteral("message"), row.reason);
        xml.writeEndElement();
        break;
    case CheckResult::Fail: {
        const QString first = row.firstRaised ? row.firstRaised->text : QString();
        xml.writeStartElement(QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("type"), row.eventName);
        xml.writeAttribute(QStringLiteral("message"),
                           QStringLiteral("%1; %2").arg(first, raisedCount(row.raised)));
        QString details = QStringLiteral("%1 = %2, worst %3").arg(row.name, row.limit, row.worst);
        if (row.at != QLatin1String("-"))
            details += QStringLiteral(" at %1").arg(row.at);
        if (row.firstRaised)
            details += QStringLiteral("\nfirst raised %1: %2")
                           .arg(recordTime(row.firstRaised->timeMs), first);
        xml.writeCharacters(details);
        xml.writeEndElement();
        break;
    }
    }
    xml.writeEndElement();
}

// A testsuite of the run itself, with one testcase in error: what ended it.
void writeRunError(QXmlStreamWriter &xml, qint64 startMs, qint64 durationMs, const QString &type,
                   const QString &reason, const QString &details)
{
    Counts counts;
    counts.add(CheckResult::Error);
    startSuite(xml, SuitesName, counts, startMs, durationMs);
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), SuitesName);
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("run"));
    xml.writeAttribute(QStringLiteral("time"), seconds(durationMs));
    xml.writeStartElement(QStringLiteral("error"));
    xml.writeAttribute(QStringLiteral("type"), type);
    xml.writeAttribute(QStringLiteral("message"), reason);
    xml.writeCharacters(details);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
}

bool endDocument(QXmlStreamWriter &xml, QIODevice *device)
{
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError() && device->write("\n") == 1;
}

} // namespace

bool writeJUnitReport(QIODevice *device, const Limits &limits, const QString &limitsPath,
                      const QVector<PortCheck> &checks, const QString &runFailure)
{
    QVector<QVector<CheckRow>> rows;
    QVector<Counts> suites;
    Counts total;
    qint64 totalMs = 0;
    for (const PortCheck &check : checks) {
        rows.append(checkRows(limits, check));
        suites.append(Counts());
        for (const CheckRow &row : rows.constLast()) {
            suites.last().add(row.result);
            total.add(row.result);
        }
        totalMs = qMax(totalMs, check.endMs - check.startMs);
    }
    if (!runFailure.isEmpty())
        total.add(CheckResult::Error);

    QXmlStreamWriter xml(device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), SuitesName);
    writeCounts(xml, total, false);
    xml.writeAttribute(QStringLiteral("time"), seconds(totalMs));
    for (int i = 0; i < checks.size(); ++i) {
        const PortCheck &check = checks.at(i);
        startSuite(xml, check.port, suites.at(i), check.startMs, check.endMs - check.startMs);
        xml.writeStartElement(QStringLiteral("properties"));
        for (const auto &[name, value] :
             {std::pair{QStringLiteral("limits"), limitsPath},
              std::pair{QStringLiteral("frames"), QString::number(check.tally.frames)}}) {
            xml.writeEmptyElement(QStringLiteral("property"));
            xml.writeAttribute(QStringLiteral("name"), name);
            xml.writeAttribute(QStringLiteral("value"), value);
        }
        xml.writeEndElement();
        for (const CheckRow &row : rows.at(i))
            writeTestcase(xml, check, row);
        xml.writeEndElement();
    }
    if (!runFailure.isEmpty()) {
        const qint64 startMs =
            checks.isEmpty() ? QDateTime::currentMSecsSinceEpoch() : checks.constFirst().startMs;
        writeRunError(xml, startMs, totalMs, QStringLiteral("run_failed"), runFailure,
                      QStringLiteral("the run ended before its time; the testcases above hold "
                                     "what was judged until then"));
    }
    return endDocument(xml, device);
}

bool writeJUnitRefusal(QIODevice *device, qint64 startMs, const QString &reason, int exitStatus)
{
    const qint64 durationMs = QDateTime::currentMSecsSinceEpoch() - startMs;
    Counts counts;
    counts.add(CheckResult::Error);
    QXmlStreamWriter xml(device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), SuitesName);
    writeCounts(xml, counts, false);
    xml.writeAttribute(QStringLiteral("time"), seconds(durationMs));
    writeRunError(
        xml, startMs, durationMs, QStringLiteral("cannot_check"), reason,
        QStringLiteral("the check was not made; keldro-cli exited with status %1").arg(exitStatus));
    return endDocument(xml, device);
}
