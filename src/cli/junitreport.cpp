#include "junitreport.h"

#include "record/recordformat.h"

#include <QIODevice>
#include <QSysInfo>
#include <QXmlStreamWriter>

namespace {

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

void writeTestcase(QXmlStreamWriter &xml, const PortCheck &check, const CheckRow &row)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), check.port);
    xml.writeAttribute(QStringLiteral("name"), row.name);
    if (!check.hasFrames()) {
        xml.writeStartElement(QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("no_frame"));
        xml.writeAttribute(QStringLiteral("message"),
                           QStringLiteral("no frame came from %1").arg(check.port));
        xml.writeEndElement();
    } else if (!row.error.isEmpty()) {
        xml.writeStartElement(QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("not_measured"));
        xml.writeAttribute(QStringLiteral("message"), row.error);
        xml.writeEndElement();
    } else if (row.failed()) {
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
    }
    xml.writeEndElement();
}

} // namespace

bool writeJUnitReport(QIODevice *device, const Limits &limits, const QString &limitsPath,
                      const QVector<PortCheck> &checks)
{
    QVector<QVector<CheckRow>> rows;
    int tests = 0, failures = 0, errors = 0;
    qint64 totalMs = 0;
    for (const PortCheck &check : checks) {
        rows.append(check.rows(limits));
        tests += rows.constLast().size();
        for (const CheckRow &row : rows.constLast()) {
            if (!check.hasFrames() || !row.error.isEmpty())
                ++errors;
            else if (row.failed())
                ++failures;
        }
        totalMs = qMax(totalMs, check.endMs - check.startMs);
    }

    QXmlStreamWriter xml(device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("keldro-cli check"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    xml.writeAttribute(QStringLiteral("time"), seconds(totalMs));
    for (int i = 0; i < checks.size(); ++i) {
        const PortCheck &check = checks.at(i);
        int suiteFailures = 0, suiteErrors = 0;
        for (const CheckRow &row : rows.at(i)) {
            suiteErrors += !check.hasFrames() || !row.error.isEmpty();
            suiteFailures += check.hasFrames() && row.error.isEmpty() && row.failed();
        }
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), check.port);
        xml.writeAttribute(QStringLiteral("tests"), QString::number(rows.at(i).size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(suiteFailures));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(suiteErrors));
        xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("time"), seconds(check.endMs - check.startMs));
        // The schema's timestamp has no zone and no fraction; it is UTC, as every time
        // keldro writes.
        xml.writeAttribute(QStringLiteral("timestamp"), recordTime(check.startMs).left(19));
        xml.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());
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
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError() && device->write("\n") == 1;
}
