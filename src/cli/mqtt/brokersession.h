#pragma once

#include "cli/mqtt/boardoutbox.h"
#include "cli/mqtt/brokersettings.h"

#include <QObject>
#include <deque>
#include <memory>

class QSocketNotifier;
class QTimer;
struct mosquitto;

// One board's connection to the broker, living on the MQTT thread.
//
// A connection per board because MQTT has one last will per connection: when the
// recorder dies, the broker publishes "offline" on every board's status topic only if
// every board has a connection of its own, with that topic as its will.
//
// libmosquitto runs without threads of its own here: its socket sits on
// QSocketNotifiers and a two-second timer runs its keepalive (mosquitto_loop_misc), so
// thirty boards cost thirty sockets and not thirty threads. All sessions share one
// QThread (MqttPublisher's) because libmosquitto resolves the host name and sets up
// TLS with blocking calls, which must never stall the thread that reads the boards.
//
// Each attempt gets a fresh libmosquitto client: messages handed over but not
// acknowledged go back to the front of the outbox when a connection ends, so that the
// outbox alone decides what goes again and in which order, and libmosquitto's own
// resending after a reconnect cannot overtake it.
class BrokerSession : public QObject
{
    Q_OBJECT

public:
    // board is the topic level of the board, as MqttPublisher::topicLevel makes it.
    BrokerSession(const BrokerSettings &settings, const QByteArray &board,
                  std::shared_ptr<BoardOutbox> outbox);
    ~BrokerSession() override;

    // Called on the MQTT thread, through queued calls.
    Q_INVOKABLE void start();
    // Collects acknowledgements and sends what waits, as far as the window allows.
    Q_INVOKABLE void pump();
    // Sends what the outbox holds and then "offline", then disconnects cleanly (no
    // last will); ends at once when no connection is up or under way.
    Q_INVOKABLE void finish();

signals:
    void connected();
    // The connection that was up has ended; reconnection goes on.
    void connectionLost(const QString &reason);
    // The first failed attempt since the last connection (or since the start).
    void unreachable(const QString &reason);
    // The broker answered the CONNECT with a refusal, e.g. bad user name or password.
    void refused(const QString &reason);
    void messagesDropped(quint64 total);
    void finished(quint64 undelivered);

private:
    enum class State { Idle, Connecting, Connected, Finished };
    struct InFlight
    {
        int mid;
        OutboundMessage message;
    };

    static void onConnect(mosquitto *client, void *self, int rc);
    static void onDisconnect(mosquitto *client, void *self, int rc);
    static void onPublish(mosquitto *client, void *self, int mid);

    void openConnection();
    void afterClientCall(int rc);
    void closeConnection(const QString &reason);
    void scheduleRetry();
    void sendWaiting();
    bool publishStatusChange();
    bool publishStateChanges();
    bool publish(const OutboundMessage &message);
    void sendGreeting();

    const BrokerSettings m_settings;
    const QByteArray m_board;
    const QByteArray m_statusTopic;
    const QByteArray m_clientId;
    std::shared_ptr<BoardOutbox> m_outbox;
    mosquitto *m_client = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_housekeeping = nullptr;
    QTimer *m_ackCollection = nullptr;
    QTimer *m_retry = nullptr;
    State m_state = State::Idle;
    std::deque<InFlight> m_inFlight;
    int m_retrySeconds = 1;
    bool m_finishing = false;
    bool m_outageReported = false;
    // Set by libmosquitto's callbacks, acted on once its call has returned: the
    // client must not be destroyed from inside its own callback.
    bool m_justConnected = false;
    bool m_ended = false;
    QString m_endReason;
};
