#include "portcheck.h"

#include "exitstatus.h"
#include "protocol/displaytext.h"
#include "record/recordformat.h"

#include <QLocale>
#include <QStringList>
#include <cmath>

namespace {

// Whole numbers without a decimal point, tenths of a degree with theirs.
QString numberText(double value)
{
    if (std::trunc(value) == value && std::abs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// "ov,uv"; the seven of a default fail_on as "all".
QString flagList(quint8 flags, bool allAsOneWord)
{
    if (allAsOneWord && flags == Limits::AllProtectionFlags)
        return QStringLiteral("all");
    QStringList names;
    for (int bit = 0; bit < ProtectionFlagCount; ++bit)
        if ((flags >> bit) & 1)
            names << QLatin1String(RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit]);
    return names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1Char(','));
}

QString cellName(int cell)
{
    return QStringLiteral("cell%1").arg(cell);
}

} // namespace

QVector<CheckRow> checkRows(const Limits &limits, const CheckTally &tally)
{
    QVector<CheckRow> rows;
    for (int i = 0; i < LimitCount; ++i) {
        const Limit limit = Limit(i);
        const auto value = limits.value(limit);
        if (!value)
            continue;
        const LimitTally &seen = tally.of(limit);
        CheckRow row;
        row.name = QLatin1String(limitKeyPath(limit));
        row.limit = numberText(*value);
        row.worst = seen.seen ? numberText(seen.worst) : QStringLiteral("-");
        row.at = QStringLiteral("-");
        if (seen.seen && seen.cell > 0)
            row.at = cellName(seen.cell);
        else if (seen.seen && limit == Limit::CellSpread)
            row.at = cellName(qMin(seen.lowCell, seen.highCell)) + QLatin1Char(',') +
                     cellName(qMax(seen.lowCell, seen.highCell));
        else if (seen.seen && !seen.sensor.isEmpty())
            row.at = seen.sensor;
        row.raised = seen.raised;
        row.firstRaised = seen.firstRaised;
        row.eventName = QLatin1String(limitInfo(limit).eventName);
        rows.append(row);
    }
    CheckRow flags;
    flags.name = QStringLiteral("protection");
    flags.limit = flagList(limits.failOn, true);
    flags.worst =
        tally.frames > 0 ? flagList(tally.protection.seenFlags, false) : QStringLiteral("-");
    flags.at = QStringLiteral("-");
    flags.raised = tally.protection.raised;
    flags.firstRaised = tally.protection.firstRaised;
    flags.eventName = QStringLiteral("protection");
    rows.append(flags);
    return rows;
}

QVector<CheckRow> PortCheck::rows(const Limits &limits) const
{
    return checkRows(limits, tally) + healthRows;
}

int checkExitStatus(const QVector<PortCheck> &checks)
{
    bool alarm = false;
    for (const PortCheck &check : checks) {
        if (!check.hasFrames())
            return LinkFailed;
        alarm = alarm || check.tally.failed();
        for (const CheckRow &row : check.healthRows) {
            if (!row.error.isEmpty())
                return LinkFailed;
            alarm = alarm || row.failed();
        }
    }
    return checks.isEmpty() ? LinkFailed : alarm ? AlarmRaised : Done;
}
