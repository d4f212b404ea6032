#pragma once

#include "protocol/telemetry.h"

// The lowest and the highest of a frame's cells and the spread between them: how
// far balancing has still to go.
struct CellBalance
{
    int lowestCell = -1; // 0-based; -1 when the frame has no cells
    int highestCell = -1;
    quint16 lowestMillivolts = 0;
    quint16 highestMillivolts = 0;

    bool isValid() const { return lowestCell >= 0; }
    int spreadMillivolts() const { return int(highestMillivolts) - int(lowestMillivolts); }
};

// Among equal cells the first counts, so the marks do not wander between them.
CellBalance cellBalance(const Telemetry &telemetry);
