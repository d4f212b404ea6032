#pragma once

#include "cli/mqtt/brokersettings.h"
#include "judge/judgeevent.h"
#include "porttarget.h"
#include "protocol/telemetryrecord.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVector>

class MqttPublisher;

// `keldro-cli record --mqtt`: which board each port is on the broker, what goes out
// for each frame, text line and port state, and what standard error hears about the
// broker. The recording never waits for the broker, which only ever costs messages
// (the oldest beyond --mqtt-queue), never rows.
class MqttFeed : public QObject
{
    Q_OBJECT

public:
    // boardIds names the board of each port in order, or is empty: the adapter's USB
    // serial number then, else HOST_PORT: the host's short name and the port's.
    MqttFeed(const BrokerSettings &settings, const QVector<PortTarget> &ports,
             const QStringList &boardIds, QObject *parent = nullptr);

    // Connects every board and gives the broker up to waitMs to answer. False, after
    // saying why, when it refuses the credentials; a broker that cannot be reached is
    // only reported, and its messages wait.
    bool start(int waitMs);

    void publishFrame(const TelemetryRecord &record);
    void publishText(const QString &port, const QByteArray &line);
    void setPortOpen(const QString &port, bool open);
    // With --limits or --events: each event as the events file has it, and the alarms
    // raised now on the port's board (a JSON array of their texts, retained).
    void publishEvents(const QVector<JudgeEvent> &events);
    void setAlarm(const QString &port, const QByteArray &payload);

    // Every board offline, what waits sent, disconnected; then finished(), after
    // timeoutMs at the latest.
    void finish(int timeoutMs);
    // One line for the run's summary.
    QString summary() const;

signals:
    void finished();

private:
    void brokerAway(const QString &board, const QString &what, const QString &reason);
    void brokerBack(const QString &board);

    MqttPublisher *publisher;
    QHash<QString, QString> boardOfPort;
    QHash<QString, QPair<TelemetryLayout, int>> layoutOfPort;
    QStringList boards;
    QSet<QString> answered;
    QSet<QString> away;
    QSet<QString> dropping;
    QHash<QString, QString> refusals;
    bool starting = true;
    bool awayReported = false;
    qint64 messages = 0;
    quint64 unsent = 0;
};
