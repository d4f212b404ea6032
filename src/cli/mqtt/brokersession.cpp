#include "brokersession.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>

namespace {

// Messages handed to libmosquitto and not yet acknowledged, per board. Enough to keep
// a remote broker's round trip busy at ten frames a second; the rest waits in the
// bounded outbox, where it can still be dropped oldest first.
const int InFlightWindow = 64;
const int MaxRetrySeconds = 30;
const QByteArray Offline = QByteArrayLiteral("offline");

QString describe(int rc, int savedErrno)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    // libmosquitto says no more than "Lookup error." and "A TLS error occurred."
    if (rc == MOSQ_ERR_EAI)
        return QStringLiteral("the host name does not resolve");
    if (rc == MOSQ_ERR_TLS)
        return QStringLiteral("TLS handshake failed: the broker's certificate is not trusted "
                              "or does not name the host (--mqtt-ca FILE names the CA to "
                              "trust)");
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

BrokerSession::BrokerSession(const BrokerSettings &settings, const QByteArray &board,
                             std::shared_ptr<BoardOutbox> outbox)
    : m_settings(settings), m_board(board),
      m_statusTopic(settings.url.prefix.toUtf8() + '/' + board + "/status"),
      m_clientId("keldro-" + board + '-' + QByteArray::number(QCoreApplication::applicationPid())),
      m_outbox(std::move(outbox))
{}

BrokerSession::~BrokerSession()
{
    if (m_client)
        mosquitto_destroy(m_client);
}

void BrokerSession::start()
{
    // libmosquitto's keepalive only needs a look every few seconds; a very coarse
    // timer lets every board's look fall on the same wake.
    m_housekeeping = new QTimer(this);
    m_housekeeping->setInterval(2000);
    m_housekeeping->setTimerType(Qt::VeryCoarseTimer);
    connect(m_housekeeping, &QTimer::timeout, this,
            [this] { afterClientCall(mosquitto_loop_misc(m_client)); });
    // Only when no batch comes to read the acknowledgements first.
    m_ackCollection = new QTimer(this);
    m_ackCollection->setSingleShot(true);
    m_ackCollection->setInterval(50);
    connect(m_ackCollection, &QTimer::timeout, this, &BrokerSession::pump);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &BrokerSession::openConnection);
    openConnection();
}

void BrokerSession::openConnection()
{
    m_client = mosquitto_new(m_clientId.constData(), true, this);
    if (!m_client) {
        closeConnection(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    mosquitto_connect_callback_set(m_client, &BrokerSession::onConnect);
    mosquitto_disconnect_callback_set(m_client, &BrokerSession::onDisconnect);
    mosquitto_publish_callback_set(m_client, &BrokerSession::onPublish);
    mosquitto_max_inflight_messages_set(m_client, InFlightWindow);
    mosquitto_will_set(m_client, m_statusTopic.constData(), int(Offline.size()),
                       Offline.constData(), 1, true);
    if (!m_settings.credentials.isEmpty())
        mosquitto_username_pw_set(m_client, m_settings.credentials.user.constData(),
                                  m_settings.credentials.password.constData());
    int rc = MOSQ_ERR_SUCCESS;
    if (m_settings.url.tls && !m_settings.caFile.isEmpty())
        rc = mosquitto_tls_set(m_client, QFile::encodeName(m_settings.caFile).constData(), nullptr,
                               nullptr, nullptr, nullptr);
    else if (m_settings.url.tls)
        rc = mosquitto_int_option(m_client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    if (rc == MOSQ_ERR_SUCCESS) {
        errno = 0;
        rc = mosquitto_connect_async(m_client, m_settings.url.host.toUtf8().constData(),
                                     m_settings.url.port, m_settings.keepAliveSeconds);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        closeConnection(describe(rc, errno));
        return;
    }
    m_state = State::Connecting;
    const int socket = mosquitto_socket(m_client);
    m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this,
            [this] { afterClientCall(mosquitto_loop_read(m_client, 1)); });
    m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this,
            [this] { afterClientCall(mosquitto_loop_write(m_client, 1)); });
    m_housekeeping->start();
    afterClientCall(MOSQ_ERR_SUCCESS);
}

void BrokerSession::afterClientCall(int rc)
{
    if (!m_client)
        return;
    if (rc != MOSQ_ERR_SUCCESS && !m_ended) {
        m_ended = true;
        m_endReason = describe(rc, errno);
    }
    if (m_ended) {
        closeConnection(m_endReason);
        return;
    }
    if (m_justConnected) {
        m_justConnected = false;
        sendGreeting();
    }
    sendWaiting();
    if (m_ended) {
        closeConnection(m_endReason);
        return;
    }
    if (m_finishing && m_state == State::Connected && m_inFlight.empty() && m_outbox->size() == 0) {
        // A clean DISCONNECT: the broker drops the last will, the status says offline.
        m_state = State::Finished;
        mosquitto_disconnect(m_client);
        afterClientCall(MOSQ_ERR_SUCCESS);
        return;
    }
    if (!m_client)
        return;
    // Acknowledgements are read with the next batch rather than each as it comes: a
    // wake of this thread per acknowledgement cost as much as the rest together.
    // While none is awaited the socket is watched, for the broker's own packets.
    const bool awaitingAcks = m_state == State::Connected && !m_inFlight.empty();
    m_readNotifier->setEnabled(!awaitingAcks);
    if (awaitingAcks)
        m_ackCollection->start();
    m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
}

void BrokerSession::closeConnection(const QString &reason)
{
    const bool wasConnected = m_state == State::Connected;
    const bool wasFinished = m_state == State::Finished;
    m_state = State::Idle;
    m_ended = false;
    m_justConnected = false;
    if (m_housekeeping) {
        m_housekeeping->stop();
        m_ackCollection->stop();
    }
    // The notifiers may be the ones whose signal is running: disable now, delete later.
    for (QSocketNotifier *notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = m_writeNotifier = nullptr;
    if (m_client) {
        mosquitto_destroy(m_client);
        m_client = nullptr;
    }
    // Status and discovery go again in the greeting of the next connection.
    QList<OutboundMessage> unacknowledged;
    for (InFlight &entry : m_inFlight) {
        if (!entry.message.retained())
            unacknowledged.append(std::move(entry.message));
    }
    m_inFlight.clear();
    if (m_outbox->putBack(unacknowledged) > 0)
        emit messagesDropped(m_outbox->dropped());

    if (m_finishing || wasFinished) {
        m_state = State::Finished;
        emit finished(quint64(m_outbox->size()));
        return;
    }
    if (wasConnected) {
        m_outageReported = true;
        emit connectionLost(reason);
    } else if (!m_outageReported) {
        m_outageReported = true;
        emit unreachable(reason);
    }
    scheduleRetry();
}

void BrokerSession::scheduleRetry()
{
    m_retry->start(m_retrySeconds * 1000);
    m_retrySeconds = qMin(MaxRetrySeconds, m_retrySeconds * 2);
}

void BrokerSession::sendGreeting()
{
    // Retained, so send them ahead of the queue: a dashboard sees the board as it is
    // now, also when the broker published the last will while we were away.
    m_outbox->takeStateChanges();
    const QList<OutboundMessage> states = m_outbox->states();
    for (const OutboundMessage &state : states)
        publish(state);
    m_outbox->takeStatusChange();
    if (const std::optional<OutboundMessage> status = m_outbox->status())
        publish(*status);
}

void BrokerSession::pump()
{
    if (m_client)
        afterClientCall(MOSQ_ERR_SUCCESS);
}

void BrokerSession::sendWaiting()
{
    if (m_state != State::Connected)
        return;
    if (!m_readNotifier->isEnabled()) {
        const int rc = mosquitto_loop_read(m_client, 1);
        if (rc != MOSQ_ERR_SUCCESS || m_ended) {
            if (!m_ended) {
                m_ended = true;
                m_endReason = describe(rc, errno);
            }
            return;
        }
    }
    // A new status goes ahead of old frames, except the last "offline", which must
    // not be followed by the frames still queued.
    if (!m_finishing && !publishStatusChange())
        return;
    if (!publishStateChanges())
        return;
    const qsizetype room = InFlightWindow - qsizetype(m_inFlight.size());
    if (room <= 0)
        return;
    QList<OutboundMessage> messages = m_outbox->take(room);
    for (qsizetype i = 0; i < messages.size(); ++i) {
        if (!publish(messages.at(i))) {
            m_outbox->putBack(messages.mid(i));
            return;
        }
    }
    if (m_finishing && m_outbox->size() == 0)
        publishStatusChange();
}

bool BrokerSession::publishStatusChange()
{
    const std::optional<OutboundMessage> status = m_outbox->takeStatusChange();
    if (!status || publish(*status))
        return true;
    m_outbox->setStatus(*status);
    return false;
}

bool BrokerSession::publishStateChanges()
{
    const QList<OutboundMessage> changes = m_outbox->takeStateChanges();
    for (qsizetype i = 0; i < changes.size(); ++i) {
        if (!publish(changes.at(i))) {
            for (qsizetype rest = i; rest < changes.size(); ++rest)
                m_outbox->markStateChanged(changes.at(rest).topic);
            return false;
        }
    }
    return true;
}

bool BrokerSession::publish(const OutboundMessage &message)
{
    const int qos = message.retained() ? 1 : m_settings.qos;
    int mid = 0;
    const int rc =
        mosquitto_publish(m_client, &mid, message.topic.constData(), int(message.payload.size()),
                          message.payload.constData(), qos, message.retained());
    if (rc != MOSQ_ERR_SUCCESS) {
        if (!m_ended) {
            m_ended = true;
            m_endReason = describe(rc, errno);
        }
        return false;
    }
    // At QoS 0 libmosquitto reports the message done while it is still inside
    // mosquitto_publish, and nothing comes back to wait for.
    if (qos > 0)
        m_inFlight.push_back({mid, message});
    return true;
}

void BrokerSession::finish()
{
    m_finishing = true;
    OutboundMessage offline;
    offline.kind = OutboundMessage::Kind::Status;
    offline.topic = m_statusTopic;
    offline.payload = Offline;
    m_outbox->setStatus(offline);
    if (m_retry)
        m_retry->stop();
    if (m_state == State::Connected || m_state == State::Connecting)
        afterClientCall(MOSQ_ERR_SUCCESS);
    else if (m_state == State::Idle)
        closeConnection(QString());
}

void BrokerSession::onConnect(mosquitto *, void *self, int rc)
{
    auto *session = static_cast<BrokerSession *>(self);
    if (rc != 0) {
        emit session->refused(QString::fromUtf8(mosquitto_connack_string(rc)));
        // Refused credentials stay refused; retry at the slowest pace.
        session->m_retrySeconds = MaxRetrySeconds;
        session->m_outageReported = true;
        return;
    }
    session->m_state = State::Connected;
    session->m_justConnected = true;
    session->m_outageReported = false;
    session->m_retrySeconds = 1;
    emit session->connected();
}

void BrokerSession::onDisconnect(mosquitto *, void *self, int rc)
{
    const int savedErrno = errno;
    auto *session = static_cast<BrokerSession *>(self);
    if (!session->m_ended) {
        session->m_ended = true;
        session->m_endReason = rc == 0 ? QStringLiteral("disconnected") : describe(rc, savedErrno);
    }
}

void BrokerSession::onPublish(mosquitto *, void *self, int mid)
{
    auto *session = static_cast<BrokerSession *>(self);
    auto &inFlight = session->m_inFlight;
    for (auto it = inFlight.begin(); it != inFlight.end(); ++it) {
        if (it->mid == mid) {
            inFlight.erase(it);
            return;
        }
    }
}
