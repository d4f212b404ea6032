#include "mqttpublisher.h"

#include "cli/mqtt/boardoutbox.h"
#include "cli/mqtt/brokersession.h"
#include "cli/mqtt/homeassistantdiscovery.h"
#include "cli/mqtt/outboundmessage.h"
#include "cli/mqtt/queuedcall.h"

#include <QThread>
#include <QTimer>
#include <mosquitto.h>
#include <utility>

namespace {
// Well inside what a dashboard notices, and few enough wakes of the MQTT thread.
const int PublishBatchMs = 20;
} // namespace

MqttPublisher::MqttPublisher(const BrokerSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    static const bool libraryReady = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
    Q_UNUSED(libraryReady)
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("mqtt"));
    m_sessions = new QObject;
    m_sessions->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_sessions, &QObject::deleteLater);
    m_thread->start();
}

MqttPublisher::~MqttPublisher()
{
    m_thread->quit();
    // A thread stuck in a host name lookup is left to the end of the process;
    // deleting a running QThread would abort it.
    if (m_thread->wait(3000))
        delete m_thread;
}

QByteArray MqttPublisher::topicLevel(const QString &board)
{
    QByteArray level = board.toUtf8();
    if (level.startsWith('/'))
        level.remove(0, 1);
    for (char &c : level) {
        if (c == '/' || c == '+' || c == '#' || uchar(c) < 0x20)
            c = '_';
    }
    return level.isEmpty() ? QByteArrayLiteral("_") : level;
}

void MqttPublisher::addBoard(const QString &name)
{
    board(name);
}

MqttPublisher::Board &MqttPublisher::board(const QString &name)
{
    auto it = m_boards.find(name);
    if (it != m_boards.end())
        return *it;
    Board added;
    added.level = topicLevel(name);
    added.outbox = std::make_shared<BoardOutbox>(m_settings.queueCapacity);
    auto *session = new BrokerSession(m_settings, added.level, added.outbox);
    added.session = session;
    connect(session, &BrokerSession::connected, this, [this, name] { emit connected(name); });
    connect(session, &BrokerSession::connectionLost, this,
            [this, name](const QString &reason) { emit connectionLost(name, reason); });
    connect(session, &BrokerSession::unreachable, this,
            [this, name](const QString &reason) { emit unreachable(name, reason); });
    connect(session, &BrokerSession::refused, this,
            [this, name](const QString &reason) { emit refused(name, reason); });
    connect(session, &BrokerSession::messagesDropped, this,
            [this, name](quint64 total) { emit messagesDropped(name, total); });
    connect(session, &BrokerSession::finished, this, &MqttPublisher::sessionFinished);
    // What the broker keeps of an earlier run goes with this run's first connection.
    OutboundMessage alarm;
    alarm.kind = OutboundMessage::Kind::Alarm;
    alarm.topic = m_settings.url.prefix.toUtf8() + '/' + added.level + "/alarm";
    alarm.payload = m_settings.alarms ? QByteArrayLiteral("[]") : QByteArray();
    added.outbox->setState(alarm);
    if (m_settings.homeAssistant)
        setDiscovery(added);
    session->moveToThread(m_thread);
    QObject *parent = m_sessions;
    queuedCall(session, [session, parent] {
        session->setParent(parent);
        session->start();
    });
    return *m_boards.insert(name, added);
}

void MqttPublisher::enqueue(const QString &name, OutboundMessage message)
{
    const Board &target = board(name);
    message.topic = m_settings.url.prefix.toUtf8() + '/' + target.level + message.topic;
    if (target.outbox->push(std::move(message)) > 0)
        emit messagesDropped(name, target.outbox->dropped());
    wake();
}

void MqttPublisher::wake()
{
    // Messages leave in batches, at most every PublishBatchMs: each time the MQTT
    // thread wakes it polls every board's socket, and a wake for each frame of thirty
    // boards cost more than recording them. A waiting batch covers whatever comes
    // before it leaves.
    if (m_wakePending.exchange(true))
        return;
    QObject *sessions = m_sessions;
    queuedCall(sessions, [this, sessions] {
        QTimer::singleShot(PublishBatchMs, sessions, [this, sessions] {
            m_wakePending = false;
            const QObjectList children = sessions->children();
            for (QObject *child : children) {
                if (auto *session = qobject_cast<BrokerSession *>(child))
                    session->pump();
            }
        });
    });
}

void MqttPublisher::publishTelemetry(const QString &board, const QByteArray &json)
{
    enqueue(board, {OutboundMessage::Kind::Telemetry, QByteArrayLiteral("/telemetry"), json});
}

void MqttPublisher::publishText(const QString &board, const QString &line)
{
    enqueue(board, {OutboundMessage::Kind::Text, QByteArrayLiteral("/text"), line.toUtf8()});
}

void MqttPublisher::setStatus(const QString &name, bool online)
{
    const Board &target = board(name);
    OutboundMessage status;
    status.kind = OutboundMessage::Kind::Status;
    status.topic = m_settings.url.prefix.toUtf8() + '/' + target.level + "/status";
    status.payload = online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline");
    target.outbox->setStatus(status);
    wake();
}

void MqttPublisher::publishEvent(const QString &board, const QByteArray &json)
{
    enqueue(board, {OutboundMessage::Kind::Event, QByteArrayLiteral("/event"), json});
}

void MqttPublisher::setAlarm(const QString &name, const QByteArray &payload)
{
    const Board &target = board(name);
    OutboundMessage alarm;
    alarm.kind = OutboundMessage::Kind::Alarm;
    alarm.topic = m_settings.url.prefix.toUtf8() + '/' + target.level + "/alarm";
    alarm.payload = payload;
    target.outbox->setState(alarm);
    wake();
}

void MqttPublisher::setHealth(const QString &name, const QByteArray &json)
{
    const Board &target = board(name);
    OutboundMessage health;
    health.kind = OutboundMessage::Kind::Health;
    health.topic = m_settings.url.prefix.toUtf8() + '/' + target.level + "/health";
    health.payload = json;
    target.outbox->setState(health);
    wake();
}

void MqttPublisher::setLayout(const QString &name, TelemetryLayout layout, int cells)
{
    Board &target = board(name);
    if (target.layout == layout && target.cells == cells)
        return;
    target.layout = layout;
    target.cells = cells;
    if (!m_settings.homeAssistant)
        return;
    setDiscovery(target);
    wake();
}

void MqttPublisher::setDiscovery(const Board &target)
{
    const QList<OutboundMessage> configs =
        homeAssistantDiscovery(m_settings.url.prefix.toUtf8(), target.level, target.layout,
                               target.cells, m_settings.alarms);
    for (const OutboundMessage &config : configs)
        target.outbox->setState(config);
}

quint64 MqttPublisher::dropped(const QString &board) const
{
    const auto it = m_boards.constFind(board);
    return it == m_boards.cend() ? 0 : it->outbox->dropped();
}

quint64 MqttPublisher::droppedTotal() const
{
    quint64 total = 0;
    for (const Board &board : m_boards)
        total += board.outbox->dropped();
    return total;
}

QStringList MqttPublisher::boards() const
{
    return m_boards.keys();
}

void MqttPublisher::finish(int timeoutMs)
{
    if (m_finishing)
        return;
    m_finishing = true;
    m_unfinished = int(m_boards.size());
    m_undelivered = 0;
    for (auto it = m_boards.cbegin(); it != m_boards.cend(); ++it) {
        BrokerSession *session = it->session;
        queuedCall(session, [session] { session->finish(); });
    }
    QTimer::singleShot(m_boards.isEmpty() ? 0 : timeoutMs, this, [this] {
        if (m_unfinished <= 0 && !m_boards.isEmpty())
            return;
        m_unfinished = 0;
        quint64 undelivered = 0;
        for (const Board &board : std::as_const(m_boards))
            undelivered += quint64(board.outbox->size());
        emit finished(undelivered);
    });
}

void MqttPublisher::sessionFinished(quint64 undelivered)
{
    if (m_unfinished <= 0)
        return;
    m_undelivered += undelivered;
    if (--m_unfinished == 0)
        emit finished(m_undelivered);
}
