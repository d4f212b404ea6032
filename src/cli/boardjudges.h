#pragma once

#include "judge/cellhealthestimator.h"
#include "judge/judge.h"
#include "portcheck.h"
#include "porttarget.h"

#include <QHash>
#include <QObject>
#include <QVector>
#include <vector>

class EventOutput;
class MqttFeed;
class QTimer;

// The judging of a live run (record or check with --limits or --events): a Judge per
// port, told of every frame and of each port opened and lost, a timer that finds a
// link stale when no good frame has come for 3 s, and the events sent on as they come:
// to the events file or standard error, and to the broker with --mqtt, beside the
// alarms raised now.
class BoardJudges : public QObject
{
    Q_OBJECT

public:
    BoardJudges(const Limits &limits, const QVector<PortTarget> &ports, EventOutput *output,
                QObject *parent = nullptr);

    void setFeed(MqttFeed *mqttFeed) { feed = mqttFeed; }

    void judgeFrame(const TelemetryRecord &record);
    void linkOpened(const QString &port);
    void linkLost(const QString &port, const QString &reason);

    // The run is over: a link that goes quiet from now on is no event. The events go
    // onto the disk; returns why they could not, else nothing.
    QString stop();

    // Each port's tally up to now, and its [health] judged on every frame up to now, in
    // the order of the ports given.
    QVector<PortCheck> checks() const;

signals:
    // Once, when the events file took no more.
    void outputFailed(const QString &message);

private:
    struct Port
    {
        Judge judge;
        QByteArray alarm; // what the broker holds as the board's alarms; [] from the start
        qint64 startMs = -1;
        CellHealthEstimator health; // fed only when the limits have [health]
    };

    void deliver();
    void scheduleLinkCheck();

    std::vector<Port> ports;
    QHash<QString, int> indexOfPort;
    EventOutput *output;
    MqttFeed *feed = nullptr;
    QTimer *linkCheck;
    QVector<JudgeEvent> events;
    bool judgingHealth;
    bool outputBroken = false;
    bool stopped = false;
};
