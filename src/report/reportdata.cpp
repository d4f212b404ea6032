#include "report/reportdata.h"

#include "judge/cellhealth.h"
#include "judge/healthcheck.h"

#include <QCoreApplication>
#include <algorithm>

ReportData::Verdict ReportData::verdict() const
{
    if (!judged)
        return Verdict::NotJudged;
    auto any = [this](CheckResult result) {
        return std::any_of(checks.begin(), checks.end(),
                           [result](const CheckRow &row) { return row.result == result; });
    };
    // As check's exit status: a row that could not be judged outweighs one that failed.
    return any(CheckResult::Error)  ? Verdict::Error
           : any(CheckResult::Fail) ? Verdict::Fail
                                    : Verdict::Pass;
}

QString verdictWord(ReportData::Verdict verdict)
{
    switch (verdict) {
    case ReportData::Verdict::Pass:
        return QStringLiteral("PASS");
    case ReportData::Verdict::Fail:
        return QStringLiteral("FAIL");
    case ReportData::Verdict::Error:
        return QStringLiteral("ERROR");
    case ReportData::Verdict::NotJudged:
        break;
    }
    return QStringLiteral("NOT JUDGED");
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
    PortCheck check;
    check.port = data->session.port();
    check.tally = data->tally;
    check.startMs = data->session.firstMs();
    check.endMs = data->session.lastMs();
    if (data->limits.health.any())
        check.healthRows = healthCheckRows(data->limits.health, health, check.port);
    data->checks = checkRows(data->limits, check);
}
