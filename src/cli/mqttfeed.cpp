#include "mqttfeed.h"

#include "cli/mqtt/mqttpublisher.h"
#include "console.h"
#include "record/recordformat.h"
#include "serial/porturl.h"
#include "serial/serialenumerator.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTimer>
#include <utility>

namespace {

// A board known only by its port carries the host's short name as well: two stations
// that each have a ttyUSB0 would otherwise publish into one another, and each one's
// offline would overwrite the other's online.
QString portBoardName(const QString &port)
{
    const QString level = QString::fromUtf8(MqttPublisher::topicLevel(port));
    const QString host = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0);
    if (host.isEmpty())
        return level;
    return QString::fromUtf8(MqttPublisher::topicLevel(host)) + QLatin1Char('_') + level;
}

// The adapter's serial number follows the board from one USB socket to the next; two
// adapters that claim the same one (cheap clones do) are told apart by port instead.
QStringList boardNames(const QVector<PortTarget> &ports, const QStringList &boardIds)
{
    if (!boardIds.isEmpty())
        return boardIds;
    QHash<QString, QString> serialOfPort;
    QHash<QString, int> serialCount;
    const QList<PortInfo> present = SerialEnumerator::getPorts();
    for (const PortInfo &info : present) {
        if (!info.serialNumber.isEmpty()) {
            serialOfPort.insert(info.portName, info.serialNumber);
            serialOfPort.insert(info.physName, info.serialNumber);
        }
    }
    for (const PortTarget &port : ports)
        ++serialCount[serialOfPort.value(port.name)];
    QStringList names;
    for (const PortTarget &port : ports) {
        const QString serial = serialOfPort.value(port.name);
        // A port on another machine goes by host:port, which no other station shares.
        const std::optional<PortUrl> url = PortUrl::parse(port.name);
        names << (!serial.isEmpty() && serialCount.value(serial) == 1 ? serial
                  : url                                               ? url->hostAndPort()
                                                                      : portBoardName(port.name));
    }
    return names;
}

} // namespace

MqttFeed::MqttFeed(const BrokerSettings &settings, const QVector<PortTarget> &ports,
                   const QStringList &boardIds, QObject *parent)
    : QObject(parent), publisher(new MqttPublisher(settings, this))
{
    boards = boardNames(ports, boardIds);
    for (int i = 0; i < ports.size(); ++i)
        boardOfPort.insert(ports.at(i).name, boards.at(i));

    connect(publisher, &MqttPublisher::connected, this, [this](const QString &board) {
        answered.insert(board);
        brokerBack(board);
    });
    connect(publisher, &MqttPublisher::unreachable, this,
            [this](const QString &board, const QString &reason) {
                brokerAway(board, QStringLiteral("cannot reach"), reason);
            });
    connect(publisher, &MqttPublisher::connectionLost, this,
            [this](const QString &board, const QString &reason) {
                brokerAway(board, QStringLiteral("lost the connection to"), reason);
            });
    connect(publisher, &MqttPublisher::refused, this,
            [this](const QString &board, const QString &reason) {
                answered.insert(board);
                if (!starting && !refusals.contains(board))
                    Console::error(QStringLiteral("mqtt: %1 refused board %2: %3")
                                       .arg(publisher->settings().url.toString(), board, reason));
                refusals.insert(board, reason);
            });
    connect(publisher, &MqttPublisher::messagesDropped, this,
            [this](const QString &board, quint64 total) {
                if (dropping.contains(board))
                    return;
                dropping.insert(board);
                Console::error(QStringLiteral("mqtt: board %1: %2 messages wait for the broker; "
                                              "dropping the oldest (%3 so far)")
                                   .arg(board)
                                   .arg(publisher->settings().queueCapacity)
                                   .arg(total));
            });
    connect(publisher, &MqttPublisher::finished, this, [this](quint64 undelivered) {
        unsent = undelivered;
        emit finished();
    });
}

bool MqttFeed::start(int waitMs)
{
    const MqttUrl &url = publisher->settings().url;
    QStringList levels;
    for (const QString &board : std::as_const(boards))
        levels << QString::fromUtf8(MqttPublisher::topicLevel(board));
    Console::error(
        QStringLiteral("mqtt: publishing to %1/<board>/telemetry, text, health, %2status "
                       "for board%3 %4")
            .arg(url.toString(),
                 publisher->settings().alarms ? QStringLiteral("event, alarm and ")
                                              : QStringLiteral("and "),
                 levels.size() > 1 ? QStringLiteral("s") : QString(),
                 levels.join(QStringLiteral(", "))));
    for (const QString &board : std::as_const(boards))
        publisher->addBoard(board);
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [this, &loop] {
        if (answered.size() >= boards.size())
            loop.quit();
    });
    deadline.start(waitMs);
    check.start(10);
    loop.exec();
    starting = false;
    if (!refusals.isEmpty()) {
        const auto first = refusals.constBegin();
        Console::error(QStringLiteral("cannot publish to %1: the broker refused board %2: %3 "
                                      "(the user and password come from KELDRO_MQTT_USER and "
                                      "KELDRO_MQTT_PASSWORD or --mqtt-auth FILE)")
                           .arg(url.toString(), first.key(), first.value()));
        return false;
    }
    if (answered.size() < boards.size())
        Console::error(QStringLiteral("mqtt: %1 has not answered within %2 s; recording, "
                                      "its messages wait")
                           .arg(url.toString())
                           .arg(waitMs / 1000.0));
    return true;
}

void MqttFeed::brokerAway(const QString &board, const QString &what, const QString &reason)
{
    answered.insert(board);
    away.insert(board);
    if (awayReported)
        return;
    awayReported = true;
    Console::error(QStringLiteral("mqtt: %1 %2 (%3); messages wait, up to %4 per board, and "
                                  "go out in order when it answers")
                       .arg(what, publisher->settings().url.toString(), reason)
                       .arg(publisher->settings().queueCapacity));
}

void MqttFeed::brokerBack(const QString &board)
{
    away.remove(board);
    refusals.remove(board);
    dropping.remove(board);
    if (!awayReported || !away.isEmpty())
        return;
    awayReported = false;
    const quint64 dropped = publisher->droppedTotal();
    Console::error(QStringLiteral("mqtt: %1 answers again%2")
                       .arg(publisher->settings().url.toString(),
                            dropped > 0
                                ? QStringLiteral("; %1 messages dropped so far").arg(dropped)
                                : QString()));
}

void MqttFeed::publishFrame(const TelemetryRecord &record)
{
    ++messages;
    const QString board = boardOfPort.value(record.port);
    publisher->publishTelemetry(board, telemetryRecordJson(record));
    const QPair<TelemetryLayout, int> layout{record.telemetry.layout, record.telemetry.cellCount};
    const auto known = layoutOfPort.constFind(record.port);
    if (known == layoutOfPort.cend() || *known != layout) {
        layoutOfPort.insert(record.port, layout);
        publisher->setLayout(board, layout.first, layout.second);
    }
    PortHealth &health = healthOfPort[record.port];
    health.estimator.add(record);
    health.newFrames = true;
    // A clock set back starts the second again.
    const qint64 since = record.timeMs - health.publishedMs;
    if (since >= HealthEveryMs || since < 0) {
        health.publishedMs = record.timeMs;
        publishHealth(record.port);
    }
}

// The frame count and the last frame's time change with every frame: a board at rest
// would publish each second for nothing.
void MqttFeed::publishHealth(const QString &port)
{
    PortHealth &health = healthOfPort[port];
    if (!health.newFrames)
        return;
    health.newFrames = false;
    const QJsonObject estimate = cellHealthJson(health.estimator.result(), port);
    QJsonObject compared = estimate;
    compared.remove(QLatin1String("frames"));
    compared.remove(QLatin1String("to"));
    const QByteArray said = QJsonDocument(compared).toJson(QJsonDocument::Compact);
    if (said == health.published)
        return;
    health.published = said;
    publisher->setHealth(boardOfPort.value(port),
                         QJsonDocument(estimate).toJson(QJsonDocument::Compact));
}

void MqttFeed::publishEvents(const QVector<JudgeEvent> &events)
{
    for (const JudgeEvent &event : events) {
        ++messages;
        publisher->publishEvent(boardOfPort.value(event.port), event.toJson());
    }
}

void MqttFeed::setAlarm(const QString &port, const QByteArray &payload)
{
    publisher->setAlarm(boardOfPort.value(port), payload);
}

void MqttFeed::publishText(const QString &port, const QByteArray &line)
{
    ++messages;
    publisher->publishText(boardOfPort.value(port), QString::fromUtf8(line));
}

void MqttFeed::setPortOpen(const QString &port, bool open)
{
    publisher->setStatus(boardOfPort.value(port), open);
}

void MqttFeed::finish(int timeoutMs)
{
    for (const auto &port : healthOfPort)
        publishHealth(port.first);
    publisher->finish(timeoutMs);
}

QString MqttFeed::summary() const
{
    QStringList dropped;
    for (const QString &board : boards) {
        if (const quint64 count = publisher->dropped(board))
            dropped << QStringLiteral("%1 %2").arg(board).arg(count);
    }
    return QStringLiteral("  %1: %2 messages, %3 dropped while the broker was away%4, %5 left "
                          "unsent")
        .arg(publisher->settings().url.toString())
        .arg(messages)
        .arg(publisher->droppedTotal())
        .arg(dropped.isEmpty() ? QString()
                               : QStringLiteral(" (%1)").arg(dropped.join(QStringLiteral(", "))))
        .arg(unsent);
}
