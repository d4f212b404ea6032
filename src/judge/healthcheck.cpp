#include "judge/healthcheck.h"

#include <QLocale>
#include <cmath>

namespace {

QString number(double value)
{
    return QString::number(std::round(value * 100) / 100, 'g', QLocale::FloatingPointShortest);
}

CheckRow row(const char *key, double limit, const char *eventName)
{
    CheckRow row;
    row.name = QLatin1String("health.") + QLatin1String(key);
    row.limit = number(limit);
    row.worst = QStringLiteral("-");
    row.at = QStringLiteral("-");
    row.eventName = QLatin1String(eventName);
    return row;
}

// What the failure's message and its details say: the worst value against its limit.
void raise(CheckRow *row, const CellHealth &health, const QString &port, int cell, double value,
           double limit, const QString &text)
{
    JudgeEvent event;
    event.timeMs = health.toMs.value_or(0);
    event.port = port;
    event.kind = EventKind::Limit;
    event.name = row->eventName;
    event.state = EventState::Raised;
    event.cell = cell;
    event.value = value;
    event.limit = limit;
    event.text = text;
    event.field = cell > 0 ? EventField::Cell : EventField::None;
    event.index = cell - 1;
    event.isAlarm = true;
    row->firstRaised = event;
}

} // namespace

QVector<CheckRow> healthCheckRows(const HealthLimits &limits, const CellHealth &health,
                                  const QString &port)
{
    QVector<CheckRow> rows;
    // The cell of the highest resistance, and its ratio to the cells' median.
    const CellEstimate *highest = nullptr;
    for (const CellEstimate &cell : health.cells)
        if (cell.resistanceMilliohm &&
            (!highest || *cell.resistanceMilliohm > *highest->resistanceMilliohm))
            highest = &cell;

    if (limits.maxResistanceMilliohm) {
        const double limit = *limits.maxResistanceMilliohm;
        CheckRow r = row("max_resistance_mOhm", limit, "max_resistance");
        if (!highest) {
            r.result = CheckResult::Error;
            r.reason = health.resistanceMissing;
        } else {
            r.worst = number(*highest->resistanceMilliohm);
            r.at = QStringLiteral("cell%1").arg(highest->cell);
            for (const CellEstimate &cell : health.cells)
                r.raised += cell.resistanceMilliohm && *cell.resistanceMilliohm > limit;
            if (r.raised > 0)
                raise(&r, health, port, highest->cell, *highest->resistanceMilliohm, limit,
                      QStringLiteral("cell %1 at %2 mΩ, above %3 mΩ")
                          .arg(highest->cell)
                          .arg(number(*highest->resistanceMilliohm), number(limit)));
        }
        rows.append(r);
    }
    if (limits.maxResistanceRatio) {
        const double limit = *limits.maxResistanceRatio;
        CheckRow r = row("max_resistance_ratio", limit, "resistance_ratio");
        if (!highest || !health.medianResistanceMilliohm) {
            r.result = CheckResult::Error;
            r.reason = health.resistanceMissing;
        } else {
            const double median = *health.medianResistanceMilliohm;
            const double ratio = *highest->resistanceMilliohm / median;
            r.worst = number(ratio);
            r.at = QStringLiteral("cell%1").arg(highest->cell);
            for (const CellEstimate &cell : health.cells)
                r.raised += cell.resistanceMilliohm && *cell.resistanceMilliohm > limit * median;
            if (r.raised > 0)
                raise(&r, health, port, highest->cell, ratio, limit,
                      QStringLiteral("cell %1 at %2 mΩ, %3 times the cells' median of %4 mΩ, "
                                     "above %5 times")
                          .arg(highest->cell)
                          .arg(number(*highest->resistanceMilliohm), number(ratio), number(median),
                               number(limit)));
        }
        rows.append(r);
    }
    if (limits.minCapacityAh) {
        const double limit = *limits.minCapacityAh;
        CheckRow r = row("min_capacity_Ah", limit, "capacity_min");
        if (!health.pack.capacityAh) {
            r.result = CheckResult::Error;
            r.reason = health.capacityMissing;
        } else {
            const double capacity = *health.pack.capacityAh;
            r.worst = number(capacity);
            r.raised = capacity < limit ? 1 : 0;
            if (r.raised > 0)
                raise(&r, health, port, 0, capacity, limit,
                      QStringLiteral("capacity %1 Ah, below %2 Ah")
                          .arg(number(capacity), number(limit)));
        }
        rows.append(r);
    }
    return rows;
}
