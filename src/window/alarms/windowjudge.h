#pragma once

#include "judge/judge.h"

#include <QObject>
#include <QString>
#include <QVector>

class EventLog;
class QTimer;
struct TelemetryRecord;

// The window's judge: the board on the window's link judged against the limits loaded
// now (none at start; the protection flags are judged all the same). It keeps the
// session's events in an EventLog, and finds the link stale on its own clock.
//
// One link at a time: a link opened on another port starts a new judgement, and the
// alarms of the board before it are dropped without an event.
class WindowJudge : public QObject
{
    Q_OBJECT

public:
    explicit WindowJudge(QObject *parent = nullptr);

    // New limits from the next frame on; path names their file, empty for none.
    void setLimits(const Limits &limits, const QString &path);
    const Limits &limits() const { return judge.limits(); }
    bool hasLimits() const { return !path.isEmpty(); }
    QString limitsPath() const { return path; }

    void frameAccepted(const TelemetryRecord &record);
    void linkOpened(const QString &port);
    // reason ends the event's text: "link lost: the device was removed".
    void linkLost(const QString &reason);

    // The raising event of every alarm raised now, oldest first.
    const QVector<JudgeEvent> &raisedAlarms() const { return judge.raisedAlarms(); }
    EventLog *log() const { return eventLog; }
    // What the judge saw since the limits were loaded, for a report's checks.
    const CheckTally &tally() const { return judge.tally(); }

signals:
    // Events the judge has just given, oldest first; the log has them already.
    void eventsAdded(const QVector<JudgeEvent> &events);
    // The alarms raised now are others than before.
    void alarmsChanged();
    void limitsChanged();

private:
    void take(const QVector<JudgeEvent> &events);
    void scheduleLinkCheck();
    void checkLink();

    Judge judge;
    QString path;
    EventLog *eventLog;
    QTimer *linkTimer;
};
