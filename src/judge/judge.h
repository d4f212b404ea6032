#pragma once

#include "judge/checktally.h"
#include "judge/judgeevent.h"
#include "judge/limits.h"
#include "protocol/telemetryrecord.h"

#include <QString>
#include <QVector>
#include <array>
#include <optional>

// Judges one board: turns its frames and its link's changes into events, keeps the
// alarms raised now and tallies the check. The window, keldro-cli and the MQTT publisher
// all judge through it; one Judge per port.
//
// - A protection flag is raised on 0 to 1 and cleared on 1 to 0, limits file or not.
//   Every flag gives events; only those in Limits::failOn are alarms.
// - A limit is crossed when its value is strictly beyond it, and clears when the value
//   is back inside by the hysteresis of its unit. Each cell and each sensor is an alarm
//   of its own, and an alarm that stays raised gives no more events.
// - A state change is an event from the second frame of a link on.
// - A type 1 frame has no cells 10-15, no NTC3 and no flags: it does not judge them,
//   and does not clear what they raised (nor a spread raised with one of those cells).
// - The link is told by the caller: linkOpened, linkLost, and checkLink with the time
//   now, which finds it stale when no good frame came for StaleAfterMs while open. The
//   next good frame makes it live again. The tally counts each time the frames stopped
//   for longer than that, stale or lost and back, and endRun the time since the last.
//
// No timers and no clock inside: a recording is judged with its own times as fast as it
// can be read, and a window drives checkLink from a QTimer at nextLinkCheckMs().
//
// Every call appends the events it gives to *events, oldest first, and leaves it
// untouched when there are none (the common case: no allocation per frame).
class Judge
{
public:
    static constexpr qint64 StaleAfterMs = 3000;

    explicit Judge(const Limits &limits = Limits(), const QString &port = QString());

    const Limits &limits() const { return currentLimits; }
    // New limits from the next frame on. The limit alarms raised now are dropped without
    // an event and the limits' tallies start again; flags, states and link stay.
    void setLimits(const Limits &limits);
    const QString &port() const { return portName; }

    void judgeFrame(const TelemetryRecord &record, QVector<JudgeEvent> *events);
    void linkOpened(qint64 timeMs, QVector<JudgeEvent> *events);
    // reason, when given, ends the text: "link lost: the device was removed".
    void linkLost(qint64 timeMs, const QString &reason, QVector<JudgeEvent> *events);
    void checkLink(qint64 nowMs, QVector<JudgeEvent> *events);
    // The run ends at nowMs: checkLink, and the link's last gap tallied.
    void endRun(qint64 nowMs, QVector<JudgeEvent> *events);
    // When checkLink would next find the link stale; -1 while it is closed or stale.
    qint64 nextLinkCheckMs() const;
    bool isLinkOpen() const { return linkOpen; }
    bool isLinkStale() const { return linkStale; }

    // The raising event of every alarm raised now, oldest first: its text for a title
    // or an MQTT alarm topic, its field for the window's marks.
    const QVector<JudgeEvent> &raisedAlarms() const { return raised; }
    bool anyAlarmRaised() const { return !raised.isEmpty(); }

    const CheckTally &tally() const { return checkTally; }

private:
    struct Threshold;
    void judgeValue(const Threshold &threshold, int slot, double value,
                    const TelemetryRecord &record, QVector<JudgeEvent> *events);
    void judgeSpread(const Telemetry &telemetry, qint64 timeMs, QVector<JudgeEvent> *events);
    void judgeFlags(const Telemetry &telemetry, qint64 timeMs, QVector<JudgeEvent> *events);
    void judgeStates(const Telemetry &telemetry, qint64 timeMs, QVector<JudgeEvent> *events);
    JudgeEvent limitEvent(Limit limit, int slot, EventState state, double value,
                          qint64 timeMs) const;
    JudgeEvent newEvent(qint64 timeMs, EventKind kind, EventState state) const;
    void raise(int key, const JudgeEvent &event, QVector<JudgeEvent> *events);
    void clear(int key, const JudgeEvent &event, QVector<JudgeEvent> *events);
    void updateThresholds();
    void tallyGap(qint64 timeMs);
    void countStop(const JudgeEvent &event);

    struct Threshold
    {
        Limit limit;
        bool active = false;
        bool isMinimum = false;
        double crossed = 0; // beyond this (strictly) raises
        double back = 0;    // at this or inside clears
    };

    Limits currentLimits;
    QString portName;
    std::array<Threshold, LimitCount> thresholds{};
    // Per limit and per cell or sensor (slot 0 for the limits of one value).
    std::array<std::array<bool, Telemetry::MaxCells>, LimitCount> limitRaised{};
    quint8 flagsRaised = 0;
    QVector<JudgeEvent> raised;
    QVector<int> raisedKeys; // beside raised: limit * 16 + slot, or 256 + flag bit
    bool hasStates = false;
    quint8 systemState = 0;
    quint8 bmsState = 0;
    bool linkOpen = false;
    bool linkStale = false;
    qint64 lastGoodMs = 0;
    // For the tally of the link: the last good frame (or the first opening) whatever
    // the link did since, the loss since then, and whether this gap is counted yet.
    qint64 lastFrameMs = -1;
    std::optional<JudgeEvent> lostInGap;
    bool gapCounted = false;
    CheckTally checkTally;
};
