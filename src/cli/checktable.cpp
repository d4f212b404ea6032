#include "checktable.h"

#include <QStringList>
#include <algorithm>

namespace {

QString plural(qint64 count, const char *word)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(word),
                                                    count == 1 ? QString() : QStringLiteral("s"));
}

// ERROR, FAIL or PASS, and why: what could not be checked, the alarms raised, the
// frames stopped, the rows the layout does not carry.
QString verdict(const PortCheck &check, const QVector<CheckRow> &rows)
{
    if (!check.hasFrames())
        return QStringLiteral("%1: ERROR, no frame came from it").arg(check.port);
    int raised = 0;
    QStringList errors, failed, notApplicable, parts;
    const CheckRow *link = nullptr;
    bool anyFailed = false;
    for (const CheckRow &row : rows) {
        anyFailed = anyFailed || row.result == CheckResult::Fail;
        if (row.result == CheckResult::Error)
            errors << row.reason;
        else if (row.result == CheckResult::NotApplicable)
            notApplicable << row.name;
        if (!row.isAlarm())
            link = &row;
        else if (row.result == CheckResult::Fail) {
            raised += row.raised;
            failed << row.name;
        }
    }
    parts << errors;
    if (failed.isEmpty())
        parts << QStringLiteral("no alarm raised in %1").arg(plural(check.tally.frames, "frame"));
    else
        parts << QStringLiteral("%1 raised in %2: %3")
                     .arg(plural(raised, "alarm"), plural(check.tally.frames, "frame"),
                          failed.join(QStringLiteral(", ")));
    if (link && link->raised > 0)
        parts << QStringLiteral("link: the frames stopped %1, for up to %2 s")
                     .arg(link->raised == 1 ? QStringLiteral("once")
                                            : QStringLiteral("%1 times").arg(link->raised),
                          link->worst);
    if (!notApplicable.isEmpty())
        parts << QStringLiteral("n/a: %1").arg(notApplicable.join(QStringLiteral(", ")));
    const char *result = !errors.isEmpty() ? "ERROR" : anyFailed ? "FAIL" : "PASS";
    return QStringLiteral("%1: %2, %3")
        .arg(check.port, QLatin1String(result), parts.join(QStringLiteral("; ")));
}

} // namespace

QByteArray checkTable(const Limits &limits, const QVector<PortCheck> &checks)
{
    QVector<QStringList> lines{{QStringLiteral("PORT"), QStringLiteral("CHECK"),
                                QStringLiteral("LIMIT"), QStringLiteral("WORST"),
                                QStringLiteral("AT"), QStringLiteral("RAISED"),
                                QStringLiteral("RESULT")}};
    QStringList verdicts;
    for (const PortCheck &check : checks) {
        const QVector<CheckRow> rows = checkRows(limits, check);
        for (const CheckRow &row : rows)
            lines.append({check.port, row.name, row.limit, row.worst, row.at,
                          QString::number(row.raised), QLatin1String(checkResultWord(row.result))});
        verdicts << verdict(check, rows);
    }
    QVector<int> widths(lines.constFirst().size(), 0);
    for (const QStringList &line : qAsConst(lines))
        for (int column = 0; column < line.size(); ++column)
            widths[column] = std::max(widths[column], int(line.at(column).size()));
    QString text;
    for (const QStringList &line : qAsConst(lines)) {
        QString row;
        for (int column = 0; column < line.size(); ++column)
            row += column + 1 < line.size() ? line.at(column).leftJustified(widths[column] + 2)
                                            : line.at(column);
        text += row + QLatin1Char('\n');
    }
    text += QLatin1Char('\n') + verdicts.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return text.toUtf8();
}
