#include "portcheck.h"

#include "exitstatus.h"

int checkExitStatus(const Limits &limits, const QVector<PortCheck> &checks)
{
    bool failed = false;
    for (const PortCheck &check : checks) {
        for (const CheckRow &row : checkRows(limits, check)) {
            if (row.result == CheckResult::Error)
                return LinkFailed;
            failed = failed || row.result == CheckResult::Fail;
        }
    }
    return checks.isEmpty() ? LinkFailed : failed ? AlarmRaised : Done;
}
