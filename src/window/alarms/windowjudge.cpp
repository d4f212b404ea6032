#include "window/alarms/windowjudge.h"

#include "protocol/telemetryrecord.h"
#include "window/alarms/eventlog.h"

#include <QDateTime>
#include <QTimer>

WindowJudge::WindowJudge(QObject *parent)
    : QObject(parent), eventLog(new EventLog(this)), linkTimer(new QTimer(this))
{
    linkTimer->setSingleShot(true);
    connect(linkTimer, &QTimer::timeout, this, &WindowJudge::checkLink);
}

void WindowJudge::setLimits(const Limits &limits, const QString &limitsPath)
{
    // The judge drops the limit alarms raised now without an event: they were judged
    // against limits that no longer hold.
    const int raisedBefore = judge.raisedAlarms().size();
    judge.setLimits(limits);
    path = limitsPath;
    emit limitsChanged();
    if (judge.raisedAlarms().size() != raisedBefore) {
        eventLog->keepMarksOf(judge.raisedAlarms());
        emit alarmsChanged();
    }
}

void WindowJudge::frameAccepted(const TelemetryRecord &record)
{
    QVector<JudgeEvent> events;
    judge.judgeFrame(record, &events);
    take(events);
    // Ten frames a second: the timer is started again only when it has run out.
    if (!linkTimer->isActive())
        scheduleLinkCheck();
}

void WindowJudge::linkOpened(const QString &port)
{
    if (port != judge.port()) {
        const bool hadAlarms = judge.anyAlarmRaised();
        judge = Judge(judge.limits(), port);
        if (hadAlarms) {
            eventLog->keepMarksOf(judge.raisedAlarms());
            emit alarmsChanged();
        }
    }
    QVector<JudgeEvent> events;
    judge.linkOpened(QDateTime::currentMSecsSinceEpoch(), &events);
    take(events);
    scheduleLinkCheck();
}

void WindowJudge::linkLost(const QString &reason)
{
    linkTimer->stop();
    QVector<JudgeEvent> events;
    judge.linkLost(QDateTime::currentMSecsSinceEpoch(), reason, &events);
    take(events);
}

void WindowJudge::scheduleLinkCheck()
{
    const qint64 due = judge.nextLinkCheckMs();
    if (due >= 0)
        linkTimer->start(
            int(qBound<qint64>(0, due - QDateTime::currentMSecsSinceEpoch(), Judge::StaleAfterMs)));
}

void WindowJudge::checkLink()
{
    QVector<JudgeEvent> events;
    judge.checkLink(QDateTime::currentMSecsSinceEpoch(), &events);
    take(events);
    scheduleLinkCheck();
}

void WindowJudge::take(const QVector<JudgeEvent> &events)
{
    if (events.isEmpty())
        return;
    eventLog->append(events);
    emit eventsAdded(events);
    for (const JudgeEvent &event : events)
        if (event.isAlarm) {
            emit alarmsChanged();
            return;
        }
}
