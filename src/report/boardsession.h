#pragma once

#include "judge/cellhealthestimator.h"
#include "protocol/displaytext.h"
#include "protocol/telemetry.h"

#include <QString>
#include <array>

struct TelemetryRecord;

// What a report tells of one board's frames besides their plots and the judge's
// verdict: when they came and how many, the pauses between them, the board that sent
// them, every protection flag the board raised, with when and for how long, and the
// cells' health. Fed frame by frame, from a recording or from a live session, as the
// judge is.
class BoardSession
{
public:
    // A pause longer than this between two frames is a gap: the judge would have found
    // the link stale.
    static constexpr qint64 GapMs = 3000;

    struct FlagHistory
    {
        int timesRaised = 0;
        qint64 firstRaisedMs = 0;
        qint64 raisedMs = 0;      // how long it stayed raised in all, up to the last frame
        bool raisedAtEnd = false; // still raised in the last frame
    };

    void add(const TelemetryRecord &record);

    QString port() const { return portName; }
    qint64 frames() const { return frameCount; }
    qint64 firstMs() const { return first; }
    qint64 lastMs() const { return last; }
    int gaps() const { return gapCount; }
    // The longest pause between two frames, a gap or not.
    qint64 longestPauseMs() const { return longestGap; }
    // The newest frame: the board's model, firmware, cell type, date and cycles.
    const Telemetry &newest() const { return newestTelemetry; }
    quint16 firstCycleCount() const { return firstCycles; }
    // Whether any frame carried the protection flags (type 2 frames do).
    bool carriesFlags() const { return flagsCarried; }
    const FlagHistory &flag(int bit) const { return flagHistory[size_t(bit)]; }
    // Each cell's resistance, sag and verdict, as keldro-cli health finds them.
    CellHealth cellHealth() const { return health.result(); }

private:
    QString portName;
    qint64 frameCount = 0;
    qint64 first = 0;
    qint64 last = 0;
    int gapCount = 0;
    qint64 longestGap = 0;
    Telemetry newestTelemetry;
    quint16 firstCycles = 0;
    bool flagsCarried = false;
    std::array<FlagHistory, ProtectionFlagCount> flagHistory{};
    CellHealthEstimator health;
};
