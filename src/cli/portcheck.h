#pragma once

#include "judge/checkrow.h"
#include "judge/checktally.h"

#include <QString>
#include <QVector>

// What `keldro-cli check` found on one port, for its table and its JUnit report.
struct PortCheck
{
    QString port;
    CheckTally tally;
    qint64 startMs = 0; // UTC: when the check of this port began
    qint64 endMs = 0;
    // The [health] limits the file sets, judged at the end (healthCheckRows).
    QVector<CheckRow> healthRows;

    bool hasFrames() const { return tally.frames > 0; }
    // Every row of the check: the limits, the protection flags, then [health].
    QVector<CheckRow> rows(const Limits &limits) const;
};

// 1 when some port sent no frame at all or a [health] limit could not be measured (the
// check could not be made there), else 4 when an alarm was raised or a [health] limit
// failed on any port, else 0.
int checkExitStatus(const QVector<PortCheck> &checks);
