#include "judge/currentstepfinder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

void StepFrame::take(const TelemetryRecord &record)
{
    const Telemetry &t = record.telemetry;
    timeMs = record.timeMs;
    currentMilliamps = t.currentMilliamps;
    packMillivolts = t.packMillivolts;
    cellCount = t.cellCount;
    cellMillivolts = t.cellMillivolts;
}

CurrentStepFinder::CurrentStepFinder(qint32 minStepMilliamps) : minStep(minStepMilliamps) {}

void CurrentStepFinder::reset()
{
    *this = CurrentStepFinder(minStep);
}

double CurrentStepFinder::band(double level)
{
    return std::max(std::abs(level) * SteadyFraction, SteadyFloorMilliamps);
}

void CurrentStepFinder::startLevel(const TelemetryRecord &record)
{
    levelFrames = 1;
    levelFromMs = record.timeMs;
    levelSum = record.telemetry.currentMilliamps;
    last.take(record);
}

bool CurrentStepFinder::add(const TelemetryRecord &record)
{
    const qint64 now = record.timeMs;
    const qint32 current = record.telemetry.currentMilliamps;
    if (hasFrame) {
        rejected.largestChangeMilliamps =
            std::max(rejected.largestChangeMilliamps,
                     qint32(std::min<qint64>(std::llabs(qint64(current) - last.currentMilliamps),
                                             std::numeric_limits<qint32>::max())));
        // A recording of two sessions back to back can also step back in time.
        if (now - lastMs > GapMs || now < lastMs) {
            if (pending)
                ++rejected.gap;
            pending = false;
            levelFrames = 0;
        }
    }
    hasFrame = true;
    lastMs = now;

    if (pending) {
        const double level = double(newLevelSum) / newLevelFrames;
        if (std::abs(current - level) <= band(level)) {
            if (now - changeMs < AfterFromMs) {
                newLevelSum += current;
                ++newLevelFrames;
                return false;
            }
            pending = false;
            // The new level counts from the change on: it is the next step's before.
            levelFrames = newLevelFrames + 1;
            levelFromMs = changeMs;
            levelSum = newLevelSum + current;
            last.take(record);
            if (now - changeMs > AfterUntilMs) {
                ++rejected.tooLate;
                return false;
            }
            if (std::llabs(qint64(current) - stepBefore.currentMilliamps) < minStep) {
                ++rejected.notSteadyAfter;
                return false;
            }
            return true;
        }
        ++rejected.notSteadyAfter;
        pending = false;
        levelFrames = 0;
    }

    if (levelFrames > 0) {
        const double level = double(levelSum) / levelFrames;
        if (std::abs(current - level) <= band(level)) {
            levelSum += current;
            ++levelFrames;
            last.take(record);
            return false;
        }
        if (std::llabs(qint64(current) - last.currentMilliamps) >= minStep) {
            if (last.timeMs - levelFromMs >= SteadyForMs && levelFrames >= SteadyFrames) {
                pending = true;
                stepBefore = last;
                changeMs = now;
                newLevelFrames = 1;
                newLevelSum = current;
                return false;
            }
            ++rejected.notSteadyBefore;
        }
    }
    startLevel(record);
    return false;
}
