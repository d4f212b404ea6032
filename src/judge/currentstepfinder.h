#pragma once

#include "protocol/telemetryrecord.h"

#include <array>

// What a current step needs of a frame: its time, its current and its voltages.
struct StepFrame
{
    qint64 timeMs = 0;
    qint32 currentMilliamps = 0;
    quint16 packMillivolts = 0;
    int cellCount = 0;
    std::array<quint16, Telemetry::MaxCells> cellMillivolts{};

    void take(const TelemetryRecord &record);
};

// Why changes of the current were not used as steps, so that an estimate without one
// can say which rule stopped it.
struct StepRejections
{
    qint32 largestChangeMilliamps = 0; // between two frames, over the whole data
    int notSteadyBefore = 0; // a change of the minimum or more after a level held too briefly
    int notSteadyAfter = 0;  // the new level did not hold until the frame after the step
    int tooLate = 0;         // the first frame 0.5 s on came more than 2 s after the change
    int gap = 0;             // a gap of more than 2 s between the frames of a step
};

// Finds the steps of the pack current in a stream of frames, the way a cycler's DC
// internal resistance test makes them on purpose (IEC 61960: V1 before the pulse, V2
// one second into it), but from whatever the load happens to do:
//
// - A step is a change of the current by at least the minimum step, from one level to
//   another. Before it the current held within ±5 % or ±200 mA (the larger) of its level
//   for at least 2 s and 2 frames; its last frame there is the step's before().
// - The change is the first frame off the old level. The new level holds (within the
//   same band) up to after(): the first frame from 0.5 s to 2 s after the change. Boards
//   send at 1 Hz to 10 Hz; at 1 Hz the frame after the change is the one a second on.
// - A gap of more than 2 s between two frames voids the step it falls in, and the level
//   it interrupts: nobody knows what the current did meanwhile.
//
// A load that ramps (a charger, a motor controller's soft start) gives no step: its
// frames never hold a level. O(1) per frame, no allocation.
class CurrentStepFinder
{
public:
    static constexpr qint64 SteadyForMs = 2000;
    static constexpr int SteadyFrames = 2;
    static constexpr qint64 AfterFromMs = 500;
    static constexpr qint64 AfterUntilMs = 2000;
    static constexpr qint64 GapMs = 2000;
    static constexpr double SteadyFraction = 0.05;
    static constexpr double SteadyFloorMilliamps = 200;

    explicit CurrentStepFinder(qint32 minStepMilliamps);

    // True when this frame completes a step: before() and after() hold it until the next
    // call.
    bool add(const TelemetryRecord &record);
    const StepFrame &before() const { return stepBefore; }
    const StepFrame &after() const { return last; }

    qint32 minStepMilliamps() const { return minStep; }
    const StepRejections &rejections() const { return rejected; }
    void reset();

private:
    static double band(double level);
    void startLevel(const TelemetryRecord &record);

    qint32 minStep;
    StepRejections rejected;
    bool hasFrame = false;
    qint64 lastMs = 0;
    // The level the current holds now, and its last frame: the before of the next step.
    int levelFrames = 0;
    qint64 levelFromMs = 0;
    qint64 levelSum = 0;
    StepFrame last;
    // A change under way, waiting for the frame after it.
    bool pending = false;
    StepFrame stepBefore;
    qint64 changeMs = 0;
    int newLevelFrames = 0;
    qint64 newLevelSum = 0;
};
