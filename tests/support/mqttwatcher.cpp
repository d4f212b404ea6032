#include "mqttwatcher.h"

#include <QCoreApplication>
#include <atomic>
#include <mosquitto.h>

MqttWatcher::MqttWatcher(quint16 port, const QByteArray &filter) : m_filter(filter)
{
    static std::atomic<int> count{0};
    const QByteArray id = "watcher-" + QByteArray::number(QCoreApplication::applicationPid()) +
                          '-' + QByteArray::number(++count);
    mosquitto_lib_init();
    m_client = mosquitto_new(id.constData(), false, this);
    mosquitto_connect_callback_set(m_client, &MqttWatcher::onConnect);
    mosquitto_subscribe_callback_set(m_client, &MqttWatcher::onSubscribe);
    mosquitto_message_callback_set(m_client, &MqttWatcher::onMessage);
    mosquitto_connect_async(m_client, "127.0.0.1", port, 10);
    mosquitto_loop_start(m_client);
}

MqttWatcher::~MqttWatcher()
{
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
    mosquitto_destroy(m_client);
}

bool MqttWatcher::isSubscribed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_subscribed;
}

QList<ReceivedMessage> MqttWatcher::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

QList<QByteArray> MqttWatcher::payloads(const QByteArray &topic) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<QByteArray> result;
    for (const ReceivedMessage &message : m_messages) {
        if (message.topic == topic)
            result.append(message.payload);
    }
    return result;
}

void MqttWatcher::onConnect(mosquitto *client, void *self, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(client, nullptr, static_cast<MqttWatcher *>(self)->m_filter.constData(),
                            1);
}

void MqttWatcher::onSubscribe(mosquitto *, void *self, int, int, const int *)
{
    auto *watcher = static_cast<MqttWatcher *>(self);
    std::lock_guard<std::mutex> lock(watcher->m_mutex);
    watcher->m_subscribed = true;
}

void MqttWatcher::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *watcher = static_cast<MqttWatcher *>(self);
    std::lock_guard<std::mutex> lock(watcher->m_mutex);
    watcher->m_messages.append(
        {QByteArray(message->topic),
         QByteArray(static_cast<const char *>(message->payload), message->payloadlen)});
}
