#pragma once

#include "judge/checktally.h"
#include "judge/limits.h"

#include <QString>
#include <QVector>
#include <optional>

// PASS and FAIL judge what the frames brought. ERROR: the check could not be made (no
// frame came, the link was lost and not back). n/a: no frame carried the value, as a
// layout 1 board carries no protection flags.
enum class CheckResult { Pass, Fail, Error, NotApplicable };
// "PASS", "FAIL", "ERROR", "n/a"
const char *checkResultWord(CheckResult result);

// One line of a port's check: a limit the file sets, the protection flags, or the link
// of a live run. The words are those of keldro-cli check's table, one token each, so that
// awk and cut can take the table apart; the station report shows the same rows.
struct CheckRow
{
    QString name;  // "cells.max_mV", "protection", "link"
    QString limit; // "4250"; the flags that fail: "all", "ov,uv", "none"; link: "3" (s)
    // "4262" in the key's unit; the flags ever raised: "ov", "none"; link: the longest
    // time without a good frame, in seconds; "-"
    QString worst;
    QString at; // "cell7", "ntc2_C", "cell2,cell11" (a spread), "-"
    int raised = 0;
    std::optional<JudgeEvent> firstRaised;
    QString eventName; // "cell_max"; "protection"; "link"
    CheckResult result = CheckResult::Pass;
    QString reason; // why ERROR or n/a, a sentence

    bool isAlarm() const { return name != QLatin1String("link"); }
};

// What a check found on one port: keldro-cli check's table and JUnit report, and the
// station report, show it.
struct PortCheck
{
    QString port;
    CheckTally tally;
    qint64 startMs = 0; // UTC: when the check of this port began
    qint64 endMs = 0;
    // The [health] limits the file sets, judged at the end (healthCheckRows).
    QVector<CheckRow> healthRows;

    bool hasFrames() const { return tally.frames > 0; }
};

// Every limit the file sets, in the file's order of tables, then the protection flags,
// then the link when it was watched, then the [health] limits.
QVector<CheckRow> checkRows(const Limits &limits, const PortCheck &check);
