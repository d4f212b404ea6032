#include "portcheck.h"

#include "exitstatus.h"

int checkExitStatus(const QVector<PortCheck> &checks)
{
    bool alarm = false;
    for (const PortCheck &check : checks) {
        if (!check.hasFrames())
            return LinkFailed;
        alarm = alarm || check.tally.failed();
    }
    return checks.isEmpty() ? LinkFailed : alarm ? AlarmRaised : Done;
}
