#pragma once

#include <QByteArray>
#include <QList>
#include <mutex>

struct mosquitto;

struct ReceivedMessage
{
    QByteArray topic;
    QByteArray payload;
};

// A dashboard's view of the broker: subscribes to a topic filter at QoS 1 on a
// session the broker keeps while it is away (and across its restarts), and records
// every message it receives. libmosquitto's own thread runs it and reconnects.
class MqttWatcher
{
public:
    MqttWatcher(quint16 port, const QByteArray &filter);
    ~MqttWatcher();
    MqttWatcher(const MqttWatcher &) = delete;
    MqttWatcher &operator=(const MqttWatcher &) = delete;

    bool isSubscribed() const;
    QList<ReceivedMessage> messages() const;
    // The payloads received on topic, in order.
    QList<QByteArray> payloads(const QByteArray &topic) const;

private:
    static void onConnect(mosquitto *client, void *self, int rc);
    static void onSubscribe(mosquitto *client, void *self, int mid, int count, const int *qos);
    static void onMessage(mosquitto *client, void *self, const struct mosquitto_message *message);

    mosquitto *m_client = nullptr;
    const QByteArray m_filter;
    mutable std::mutex m_mutex;
    QList<ReceivedMessage> m_messages;
    bool m_subscribed = false;
};
