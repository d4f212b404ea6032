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
    quint8 seenFlags = 0; // every flag that was ever 1, in fail_on or not
    int raised = 0;       // raised events of the flags in fail_on
    std::optional<JudgeEvent> firstRaised;

    bool failed() const { return raised > 0; }
};

// Everything a Judge saw of one port, for pass or fail.
struct CheckTally
{
    qint64 frames = 0;
    std::array<LimitTally, LimitCount> limits{};
    ProtectionTally protection;

    const LimitTally &of(Limit limit) const { return limits[int(limit)]; }
    // Any alarm raised, even if it cleared later.
    bool failed() const;
};
