#include "judge/checkrow.h"

#include "judge/judge.h"
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

QString timeText(qint64 utcMs)
{
    QByteArray time;
    appendRecordTime(time, utcMs);
    return QString::fromLatin1(time);
}

CheckRow linkRow(const LinkTally &link)
{
    CheckRow row;
    row.name = row.eventName = QStringLiteral("link");
    row.limit = numberText(double(Judge::StaleAfterMs) / 1000.0);
    row.worst = QString::number(double(link.longestGapMs) / 1000.0, 'f', 1);
    row.at = QStringLiteral("-");
    row.raised = link.stopped;
    row.firstRaised = link.firstStopped;
    if (link.isLost()) {
        row.result = CheckResult::Error;
        row.reason =
            QStringLiteral("link lost at %1%2 and not back by the end of the check")
                .arg(timeText(link.lostAtMs), link.lostReason.isEmpty()
                                                  ? QString()
                                                  : QStringLiteral(" (%1)").arg(link.lostReason));
    }
    return row;
}

} // namespace

const char *checkResultWord(CheckResult result)
{
    switch (result) {
    case CheckResult::Pass:
        return "PASS";
    case CheckResult::Fail:
        return "FAIL";
    case CheckResult::Error:
        return "ERROR";
    case CheckResult::NotApplicable:
        return "n/a";
    }
    return "";
}

QVector<CheckRow> checkRows(const Limits &limits, const PortCheck &check)
{
    const CheckTally &tally = check.tally;
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
        if (!seen.seen) {
            row.result = CheckResult::NotApplicable;
            row.reason = QStringLiteral("no frame carried a value %1 judges").arg(row.name);
        }
        rows.append(row);
    }
    CheckRow flags;
    flags.name = flags.eventName = QStringLiteral("protection");
    flags.limit = flagList(limits.failOn, true);
    flags.worst =
        tally.protection.seen ? flagList(tally.protection.seenFlags, false) : QStringLiteral("-");
    flags.at = QStringLiteral("-");
    flags.raised = tally.protection.raised;
    flags.firstRaised = tally.protection.firstRaised;
    if (!tally.protection.seen) {
        flags.result = CheckResult::NotApplicable;
        flags.reason = QStringLiteral("no frame carried the protection flags (a layout 1 "
                                      "frame has none)");
    }
    rows.append(flags);
    if (tally.link.watched)
        rows.append(linkRow(tally.link));
    rows += check.healthRows;

    for (CheckRow &row : rows) {
        if (!check.hasFrames()) {
            row.result = CheckResult::Error;
            row.reason = QStringLiteral("no frame came from %1").arg(check.port);
        } else if (row.result == CheckResult::Pass && row.raised > 0) {
            row.result = CheckResult::Fail;
        }
    }
    return rows;
}
