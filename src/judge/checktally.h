#pragma once

#include "judge/judgeevent.h"
#include "judge/limits.h"

#include <array>
#include <optional>

// What a check reports of one limit: the worst value a frame brought and whether the
// limit was ever crossed. A test station's PASS/FAIL table and JUnit report read it.
struct LimitTally
{
    bool seen = false; // some frame carried a value the limit looks at
    double worst = 0;  // lowest for a minimum, highest for a maximum; in the key's unit
    int cell = 0;      // 1-15: the cell of the worst for cell_min and cell_max, else 0
    // cell_spread: its lowest cell and its highest (1-15), else 0
    int lowCell = 0;
    int highCell = 0;
    QString sensor; // "ntc2_C": the sensor of the worst for temperature limits
    int raised = 0; // how many times the alarm was raised, counting each cell and sensor
    std::optional<JudgeEvent> firstRaised;

    bool failed() const { return raised > 0; }
};

// The same for the protection flags, as one line of the table.
struct ProtectionTally
{
    bool seen = false;    // some frame carried the flags (layout 1 has none)
    quint8 seenFlags = 0; // every flag that was ever 1, in fail_on or not
    int raised = 0;       // raised events of the flags in fail_on
    std::optional<JudgeEvent> firstRaised;

    bool failed() const { return raised > 0; }
};

// The link of a live run. A check wants the frames to keep coming: they stopped when
// no good frame came for longer than Judge::StaleAfterMs, whether the link went stale
// or was lost and came back later. A link lost and not back by the end is no longer
// judged at all.
struct LinkTally
{
    bool watched = false; // the link was opened: a live run, not a recording
    int lost = 0;
    int stopped = 0;         // times the frames stopped
    qint64 longestGapMs = 0; // without a good frame, from the link's first opening on
    std::optional<JudgeEvent> firstStopped;
    qint64 lostAtMs = -1; // while it is lost: since when, and why
    QString lostReason;

    bool failed() const { return stopped > 0; }
    bool isLost() const { return lostAtMs >= 0; }
};

// Everything a Judge saw of one port, for pass or fail.
struct CheckTally
{
    qint64 frames = 0;
    std::array<LimitTally, LimitCount> limits{};
    ProtectionTally protection;
    LinkTally link;

    const LimitTally &of(Limit limit) const { return limits[int(limit)]; }
    // Any alarm raised, even if it cleared later, or the frames stopped.
    bool failed() const;
};
