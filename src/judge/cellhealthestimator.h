#pragma once

#include "judge/cellhealth.h"
#include "judge/currentstepfinder.h"

#include <array>
#include <vector>

// Which cell is weak, from the telemetry alone, fed one frame at a time: a live board's
// frames as they come, or a recording's as fast as they read. Both give the same result.
//
// - Resistance: at every step of the current (CurrentStepFinder), each carried cell's
//   R = (V_after - V_before) / (I_after - I_before), and the pack's from pack_mV. Per cell
//   the median over all steps, its interquartile range and the count.
// - Sag: a cell of low capacity falls away from the others as the pack empties. Each
//   discharging frame gives each cell's distance from the median of the other cells;
//   it is averaged above 60 % SOC and below 30 % SOC, with the cell's own I×R (from its
//   resistance against the others') taken out, and the sag is the second minus the first.
// - Charge and energy counted by the trapezoid rule (energy at pack_mV); a gap of more
//   than 10 s between frames is not bridged but counted. The capacity is the net charge
//   over the SOC it moved, once that is 20 points or more.
//
// Per frame O(cells) and no allocation; a step appends its values to a store that grows
// by a few bytes per step. result() sorts the steps: call it when the values are wanted,
// not per frame.
//
// steps() grows when a step is found, and only then do the resistances and verdicts of
// high resistance change; a window or a publisher that redraws on it and on a timer for
// the counted values misses nothing.
class CellHealthEstimator
{
public:
    static constexpr qint32 DefaultMinStepMilliamps = 2000;
    static constexpr qint64 CountingGapMs = 10000;
    static constexpr int SagHighSoc = 60; // averaged above this SOC
    static constexpr int SagLowSoc = 30;  // and below this

    explicit CellHealthEstimator(qint32 minStepMilliamps = DefaultMinStepMilliamps);

    void add(const TelemetryRecord &record);
    // Forgets every frame: a new board on the port, another recording.
    void reset();

    qint64 frames() const { return frameCount; }
    int steps() const { return stepCount; }
    qint32 minStepMilliamps() const { return finder.minStepMilliamps(); }

    CellHealth result() const;

private:
    // Slot 0 is the pack, 1-15 the cells.
    static constexpr int Slots = Telemetry::MaxCells + 1;
    enum SagRange { High, Low };

    void count(const TelemetryRecord &record);
    void addSag(const Telemetry &telemetry, SagRange range);
    // The cell voltages of the ranks just below, at and just above the middle.
    void middleThree(const Telemetry &telemetry, int *below, int *middle, int *above);
    void addStep();

    CurrentStepFinder finder;
    qint64 frameCount = 0;
    int stepCount = 0;
    int cellsCarried = 0;
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    int firstSoc = 0;
    int lastSoc = 0;

    // Counting: mA·ms and mA·mV·ms, one sum per direction.
    qint32 lastCurrent = 0;
    double lastPower = 0;
    double chargedMaMs = 0;
    double dischargedMaMs = 0;
    double chargedEnergy = 0;
    double dischargedEnergy = 0;
    int countedSoc = 0; // the SOC moved over the intervals counted
    int gaps = 0;

    // Per step, Slots values in mΩ (NaN for a cell one of its frames did not carry).
    std::vector<float> stepValues;

    struct SagSums
    {
        // Per cell, twice the mV from the others' median, summed.
        std::array<qint64, Telemetry::MaxCells> twiceDistance{};
        // The frames and their mA by the cells they carried (9 or 15): a cell counts the
        // frames of its number of cells and more.
        std::array<qint64, Telemetry::MaxCells + 1> framesWithCells{};
        std::array<qint64, Telemetry::MaxCells + 1> currentWithCells{};
    };
    std::array<SagSums, 2> sag;
    int lastMiddle = 0; // the middle cell voltage of the last frame that counted for the sag
};
