#include "boardoutbox.h"

BoardOutbox::BoardOutbox(qsizetype capacity) : m_capacity(qMax<qsizetype>(1, capacity)) {}

qsizetype BoardOutbox::push(OutboundMessage message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(std::move(message));
    return trim();
}

QList<OutboundMessage> BoardOutbox::take(qsizetype count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<OutboundMessage> taken;
    while (count-- > 0 && !m_messages.empty()) {
        taken.append(std::move(m_messages.front()));
        m_messages.pop_front();
    }
    return taken;
}

qsizetype BoardOutbox::putBack(const QList<OutboundMessage> &messages)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.insert(m_messages.begin(), messages.cbegin(), messages.cend());
    return trim();
}

qsizetype BoardOutbox::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return qsizetype(m_messages.size());
}

quint64 BoardOutbox::dropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

void BoardOutbox::setStatus(const OutboundMessage &status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
    m_statusChanged = true;
}

std::optional<OutboundMessage> BoardOutbox::takeStatusChange()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_statusChanged)
        return std::nullopt;
    m_statusChanged = false;
    return m_status;
}

std::optional<OutboundMessage> BoardOutbox::status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

void BoardOutbox::setState(const OutboundMessage &message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (State &state : m_states)
        if (state.message.topic == message.topic) {
            if (state.message.payload != message.payload) {
                state.message = message;
                state.changed = true;
            }
            return;
        }
    m_states.push_back({message, true});
}

QList<OutboundMessage> BoardOutbox::states() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<OutboundMessage> all;
    for (const State &state : m_states)
        all.append(state.message);
    return all;
}

QList<OutboundMessage> BoardOutbox::takeStateChanges()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<OutboundMessage> changes;
    for (State &state : m_states)
        if (state.changed) {
            changes.append(state.message);
            state.changed = false;
        }
    return changes;
}

void BoardOutbox::markStateChanged(const QByteArray &topic)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (State &state : m_states)
        if (state.message.topic == topic)
            state.changed = true;
}

qsizetype BoardOutbox::trim()
{
    qsizetype gone = 0;
    while (qsizetype(m_messages.size()) > m_capacity) {
        m_messages.pop_front();
        ++gone;
    }
    m_dropped += quint64(gone);
    return gone;
}
