#pragma once

#include "cli/mqtt/brokersettings.h"
#include "protocol/telemetry.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>

class BoardOutbox;
class BrokerSession;
class QThread;
struct OutboundMessage;

// Publishes boards' data to an MQTT broker, under <prefix>/<board>/:
//   telemetry  what publishTelemetry is given, one message per frame
//   text       the board's text lines
//   event      what publishEvent is given, one message per event of the judge
//   alarm      what setAlarm is given, retained: the alarms raised now; [] from the
//              connection on while judged, else cleared (an empty retained message),
//              so that no alarm of an earlier run stands
//   health     what setHealth is given, retained: the cells' health as estimated now
//   status     "online" / "offline", retained; "offline" is also each board's last
//              will, so that a recorder that dies leaves its boards offline
// and with Home Assistant discovery the board's configs under homeassistant/, retained:
// the alarm entity's from the start, the rest once setLayout tells the board's layout.
// Payloads come ready-made; this class only moves them. Nothing here waits for the
// broker: each board's messages wait in a bounded queue of their own while the broker
// is away (the oldest go first, counted) and leave in order when it returns.
class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    explicit MqttPublisher(const BrokerSettings &settings, QObject *parent = nullptr);
    ~MqttPublisher() override;

    const BrokerSettings &settings() const { return m_settings; }

    // A board's name as one topic level: '/', '+', '#' and control characters, which
    // a level cannot hold or which would split it, become '_'; a leading '_' made of a
    // path's first '/' is dropped ("/dev/pts/3" -> "dev_pts_3").
    static QByteArray topicLevel(const QString &board);

    // Starts the board's connection now; publishing to a board starts it otherwise.
    void addBoard(const QString &board);
    void publishTelemetry(const QString &board, const QByteArray &json);
    void publishText(const QString &board, const QString &line);
    void setStatus(const QString &board, bool online);
    void publishEvent(const QString &board, const QByteArray &json);
    // Retained, sent ahead of what waits: a JSON array of the alarms' texts, [] for none.
    void setAlarm(const QString &board, const QByteArray &payload);
    // The layout and cell count of the board's frames, for discovery configs of the
    // values they carry; a change gives the configs anew.
    void setLayout(const QString &board, TelemetryLayout layout, int cells);
    // Retained, sent ahead of what waits: the JSON object of keldro-cli health.
    void setHealth(const QString &board, const QByteArray &json);

    quint64 dropped(const QString &board) const;
    quint64 droppedTotal() const;
    QStringList boards() const;

    // Sends what waits, then every board's "offline", and disconnects cleanly; finished()
    // follows when every board is done, or after timeoutMs with what is still unsent.
    void finish(int timeoutMs);

signals:
    void connected(const QString &board);
    void connectionLost(const QString &board, const QString &reason);
    void unreachable(const QString &board, const QString &reason);
    // The broker refused the connection, with its reason ("not authorised").
    void refused(const QString &board, const QString &reason);
    void messagesDropped(const QString &board, quint64 total);
    void finished(quint64 undelivered);

private:
    struct Board
    {
        QByteArray level;
        std::shared_ptr<BoardOutbox> outbox;
        BrokerSession *session = nullptr;
        std::optional<TelemetryLayout> layout;
        int cells = 0;
    };

    Board &board(const QString &name);
    void enqueue(const QString &name, OutboundMessage message);
    void setDiscovery(const Board &target);
    void wake();
    void sessionFinished(quint64 undelivered);

    const BrokerSettings m_settings;
    QThread *m_thread = nullptr;
    QObject *m_sessions = nullptr; // parent of every session, on m_thread
    QHash<QString, Board> m_boards;
    std::atomic<bool> m_wakePending{false};
    int m_unfinished = 0;
    quint64 m_undelivered = 0;
    bool m_finishing = false;
};
