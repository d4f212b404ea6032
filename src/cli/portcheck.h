#pragma once

#include "judge/checktally.h"
#include "judge/limits.h"

#include <QString>
#include <QVector>
#include <optional>

struct CheckRow;

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

// One line of a port's check: a limit the file sets, or the protection flags. The
// words are the table's, one token each, so that awk and cut can take the table apart.
struct CheckRow
{
    QString name;  // "cells.max_mV", "protection"
    QString limit; // "4250"; the flags that fail: "all", "ov,uv", "none"
    QString worst; // "4262" in the key's unit; the flags ever raised: "ov", "none"; "-"
    QString at;    // "cell7", "ntc2_C", "cell2,cell11" (a spread), "-"
    int raised = 0;
    std::optional<JudgeEvent> firstRaised;
    QString eventName; // "cell_max"; "protection"
    // A row that could not be judged: its ERROR's reason ("no current step of 2 A or more").
    QString error;

    bool failed() const { return raised > 0; }
};

// Every limit the file sets, in the file's order of tables, then the protection flags.
QVector<CheckRow> checkRows(const Limits &limits, const CheckTally &tally);

// 1 when some port sent no frame at all or a [health] limit could not be measured (the
// check could not be made there), else 4 when an alarm was raised or a [health] limit
// failed on any port, else 0.
int checkExitStatus(const QVector<PortCheck> &checks);
