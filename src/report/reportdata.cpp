#include "report/reportdata.h"

#include "judge/cellhealth.h"
#include "judge/healthcheck.h"

#include <QCoreApplication>
#include <algorithm>

ReportData::Verdict ReportData::verdict() const
{
    if (!judged)
        return Verdict::NotJudged;
    if (std::any_of(checks.begin(), checks.end(), [](const CheckRow &row) { return row.failed(); }))
        return Verdict::Fail;
    if (std::any_of(checks.begin(), checks.end(),
                    [](const CheckRow &row) { return !row.error.isEmpty(); }))
        return Verdict::Error;
    return Verdict::Pass;
}

void concludeReport(ReportData *data)
{
    const CellHealth health = data->session.cellHealth();
    data->health = cellHealthJson(health, data->source);
    data->healthNotes.clear();
    auto note = [data](const char *what, const QString &why) {
        if (!why.isEmpty())
            data->healthNotes << QCoreApplication::translate("ReportData", what).arg(why);
    };
    note("Resistance not measured: %1.", health.resistanceMissing);
    note("Sag not measured: %1.", health.sagMissing);
    note("Capacity not measured: %1.", health.capacityMissing);
    data->checks.clear();
    if (!data->judged)
        return;
    data->checks = checkRows(data->limits, data->tally);
    if (data->limits.health.any())
        data->checks += healthCheckRows(data->limits.health, health, data->session.port());
}
