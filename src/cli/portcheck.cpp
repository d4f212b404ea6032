#include "portcheck.h"

#include "exitstatus.h"

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
