#pragma once

#include "cli/mqtt/brokersettings.h"
#include "judge/cellhealthestimator.h"
#include "judge/judgeevent.h"
#include "porttarget.h"
#include "protocol/telemetryrecord.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <map>

class MqttPublisher;

// `keldro-cli record --mqtt`: which board each port is on the broker, what goes out
// for each frame, text line and port state, and what standard error hears about the
// broker. Each board's cells are estimated as keldro-cli health does it, and the
// estimate goes out when it changes, at most once a second. The recording never waits for the
// broker, which only ever costs messages (the oldest beyond --mqtt-queue), never rows.
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

    // Frames keep a health estimate at most this far behind.
    static constexpr qint64 HealthEveryMs = 1000;

    // Every board's last health estimate, then every board offline, what waits sent,
    // disconnected; then finished(), after
    // timeoutMs at the latest.
    void finish(int timeoutMs);
    // One line for the run's summary.
    QString summary() const;

signals:
    void finished();

private:
    void brokerAway(const QString &board, const QString &what, const QString &reason);
    void brokerBack(const QString &board);
    void publishHealth(const QString &port);

    struct PortHealth
    {
        CellHealthEstimator estimator;
        qint64 publishedMs = 0; // the frame time of the estimate last worked out
        bool newFrames = false; // since then
        QByteArray published;   // what it said, but for its frame count and end
    };

    MqttPublisher *publisher;
    QHash<QString, QString> boardOfPort;
    QHash<QString, QPair<TelemetryLayout, int>> layoutOfPort;
    std::map<QString, PortHealth> healthOfPort;
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
