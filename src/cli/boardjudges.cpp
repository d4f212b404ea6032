#include "boardjudges.h"

#include "eventoutput.h"
#include "judge/healthcheck.h"
#include "mqttfeed.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <algorithm>
#include <climits>

namespace {

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QByteArray alarmPayload(const Judge &judge)
{
    QJsonArray texts;
    for (const JudgeEvent &event : judge.raisedAlarms())
        texts.append(event.text);
    return QJsonDocument(texts).toJson(QJsonDocument::Compact);
}

} // namespace

BoardJudges::BoardJudges(const Limits &limits, const QVector<PortTarget> &targets,
                         EventOutput *output, QObject *parent)
    : QObject(parent), output(output), linkCheck(new QTimer(this)),
      judgingHealth(limits.health.any())
{
    for (const PortTarget &target : targets) {
        indexOfPort.insert(target.name, int(ports.size()));
        ports.push_back(
            {Judge(limits, target.name), QByteArrayLiteral("[]"), -1, CellHealthEstimator()});
    }
    linkCheck->setSingleShot(true);
    connect(linkCheck, &QTimer::timeout, this, [this] {
        const qint64 time = now();
        for (Port &port : ports) {
            port.judge.checkLink(time, &events);
            deliver();
        }
        scheduleLinkCheck();
    });
}

void BoardJudges::judgeFrame(const TelemetryRecord &record)
{
    const auto at = indexOfPort.constFind(record.port);
    if (at == indexOfPort.cend())
        return;
    Port &port = ports[size_t(*at)];
    port.judge.judgeFrame(record, &events);
    if (judgingHealth)
        port.health.add(record);
    bool alarmsChanged = false;
    for (const JudgeEvent &event : qAsConst(events))
        alarmsChanged = alarmsChanged || event.isAlarm;
    deliver();
    if (feed && alarmsChanged) {
        const QByteArray alarm = alarmPayload(port.judge);
        if (alarm != port.alarm)
            feed->setAlarm(port.judge.port(), alarm);
        port.alarm = alarm;
    }
    scheduleLinkCheck();
}

void BoardJudges::linkOpened(const QString &name)
{
    const auto at = indexOfPort.constFind(name);
    if (at == indexOfPort.cend())
        return;
    Port &port = ports[size_t(*at)];
    const qint64 time = now();
    if (port.startMs < 0)
        port.startMs = time;
    port.judge.linkOpened(time, &events);
    deliver();
    scheduleLinkCheck();
}

void BoardJudges::linkLost(const QString &name, const QString &reason)
{
    const auto at = indexOfPort.constFind(name);
    if (at == indexOfPort.cend())
        return;
    Port &port = ports[size_t(*at)];
    port.judge.linkLost(now(), reason, &events);
    deliver();
    scheduleLinkCheck();
}

void BoardJudges::deliver()
{
    if (events.isEmpty())
        return;
    if (!output->write(events) && !outputBroken) {
        outputBroken = true;
        emit outputFailed(output->errorString());
    }
    if (feed)
        feed->publishEvents(events);
    events.clear();
}

QString BoardJudges::stop()
{
    stopped = true;
    linkCheck->stop();
    const qint64 time = now();
    for (Port &port : ports)
        port.judge.endRun(time, &events);
    deliver();
    if (output->sync() || outputBroken)
        return QString();
    outputBroken = true;
    return output->errorString();
}

void BoardJudges::scheduleLinkCheck()
{
    // Deadlines only move later as frames come, and a port opened now has the latest
    // one: a timer already set fires early at worst, finds nothing due and is set again.
    // So the frames never touch it.
    if (stopped || linkCheck->isActive())
        return;
    qint64 next = LLONG_MAX;
    for (const Port &port : ports) {
        const qint64 at = port.judge.nextLinkCheckMs();
        if (at >= 0)
            next = qMin(next, at);
    }
    if (next == LLONG_MAX) {
        linkCheck->stop();
        return;
    }
    linkCheck->start(int(std::clamp<qint64>(next - now(), 0, INT_MAX)));
}

QVector<PortCheck> BoardJudges::checks() const
{
    const qint64 end = now();
    QVector<PortCheck> result;
    for (const Port &port : ports) {
        result.append({port.judge.port(),
                       port.judge.tally(),
                       port.startMs < 0 ? end : port.startMs,
                       end,
                       {}});
        if (judgingHealth)
            result.last().healthRows = healthCheckRows(port.judge.limits().health,
                                                       port.health.result(), port.judge.port());
    }
    return result;
}
