#include "report/boardsession.h"

#include "protocol/telemetryrecord.h"

#include <algorithm>

void BoardSession::add(const TelemetryRecord &record)
{
    const qint64 now = record.timeMs;
    if (frameCount == 0) {
        portName = record.port;
        first = now;
        firstCycles = record.telemetry.cycleCount;
    } else {
        const qint64 pause = now - last;
        if (pause > GapMs)
            ++gapCount;
        longestGap = std::max(longestGap, pause);
        // A clock set back adds nothing to how long a flag stayed raised.
        for (FlagHistory &history : flagHistory)
            if (history.raisedAtEnd && pause > 0)
                history.raisedMs += pause;
    }
    ++frameCount;
    last = std::max(last, now);
    health.add(record);
    newestTelemetry = record.telemetry;
    // A type 1 frame carries no flags: what was raised stays as it was.
    if (!record.telemetry.hasExtendedFields())
        return;
    flagsCarried = true;
    for (int bit = 0; bit < ProtectionFlagCount; ++bit) {
        FlagHistory &history = flagHistory[size_t(bit)];
        const bool raised = (record.telemetry.protectionFlags >> bit) & 1;
        if (raised && !history.raisedAtEnd && history.timesRaised++ == 0)
            history.firstRaisedMs = now;
        history.raisedAtEnd = raised;
    }
}
