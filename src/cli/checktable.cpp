#include "checktable.h"

#include <QStringList>
#include <algorithm>

namespace {

QString plural(qint64 count, const char *word)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(word),
                                                    count == 1 ? QString() : QStringLiteral("s"));
}

QString verdict(const PortCheck &check, const QVector<CheckRow> &rows)
{
    if (!check.hasFrames())
        return QStringLiteral("%1: ERROR, no frame came from it").arg(check.port);
    int raised = 0;
    QStringList failed;
    QStringList unmeasured;
    for (const CheckRow &row : rows) {
        if (row.failed()) {
            raised += row.raised;
            failed << row.name;
        }
        if (!row.error.isEmpty())
            unmeasured << QStringLiteral("%1 not measured: %2").arg(row.name, row.error);
    }
    const QString notMeasured = unmeasured.join(QStringLiteral("; "));
    if (failed.isEmpty() && !unmeasured.isEmpty())
        return QStringLiteral("%1: ERROR, %2").arg(check.port, notMeasured);
    if (failed.isEmpty())
        return QStringLiteral("%1: PASS, no alarm raised in %2")
            .arg(check.port, plural(check.tally.frames, "frame"));
    return QStringLiteral("%1: FAIL, %2 raised in %3: %4%5")
        .arg(check.port, plural(raised, "alarm"), plural(check.tally.frames, "frame"),
             failed.join(QStringLiteral(", ")),
             unmeasured.isEmpty() ? QString() : QStringLiteral("; ") + notMeasured);
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
        const QVector<CheckRow> rows = check.rows(limits);
        for (const CheckRow &row : rows) {
            const QString result = !check.hasFrames() || !row.error.isEmpty()
                                       ? QStringLiteral("ERROR")
                                   : row.failed() ? QStringLiteral("FAIL")
                                                  : QStringLiteral("PASS");
            lines.append({check.port, row.name, row.limit, row.worst, row.at,
                          QString::number(row.raised), result});
        }
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
