#pragma once

#include "judge/checktally.h"
#include "judge/limits.h"

#include <QString>
#include <QVector>
#include <optional>

// One line of a board's check: a limit the file sets, or the protection flags. The
// words are those of keldro-cli check's table, one token each, so that awk and cut can
// take the table apart; the station report shows the same rows.
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
