#pragma once

#include "cli/mqtt/outboundmessage.h"

#include <QList>
#include <deque>
#include <mutex>
#include <optional>

// The messages of one board that the broker has not acknowledged yet, oldest first.
// The recorder's thread adds, the MQTT thread takes; past the capacity the oldest
// message goes and is counted, so that a broker that stays away costs bounded memory
// and never holds up the recording.
class BoardOutbox
{
public:
    explicit BoardOutbox(qsizetype capacity);

    // Returns how many old messages made room (0 or 1).
    qsizetype push(OutboundMessage message);
    // Removes and returns up to count of the oldest messages.
    QList<OutboundMessage> take(qsizetype count);
    // Puts messages taken earlier but never acknowledged back in front, in their
    // order; returns how many of the oldest had to go to keep within the capacity.
    qsizetype putBack(const QList<OutboundMessage> &messages);

    qsizetype size() const;
    quint64 dropped() const;

    // The board's status travels beside the queue, never dropped and never behind
    // old frames: a dashboard wants the port's state now. It goes out when it changes
    // and again first thing on every new connection, since the broker may have
    // published the last will meanwhile.
    void setStatus(const OutboundMessage &status);
    std::optional<OutboundMessage> status() const;
    // The status if it changed since the last call.
    std::optional<OutboundMessage> takeStatusChange();

    // Retained messages that stand for the board's state now, kept beside the queue as
    // the status is: its alarm topic and its discovery configs. Only the newest of each
    // topic is kept, a change goes out ahead of the queue, and every one goes again on
    // each new connection. A message equal to the one kept is no change.
    void setState(const OutboundMessage &message);
    QList<OutboundMessage> states() const;
    // The states that changed since the last call; clears the marks.
    QList<OutboundMessage> takeStateChanges();
    // A state taken that did not go out: its topic goes with the next changes, with
    // whatever is newest by then.
    void markStateChanged(const QByteArray &topic);

private:
    qsizetype trim();

    // A std::mutex: ThreadSanitizer sees its hand-over, which in Debian's QMutex is a
    // futex it cannot see.
    mutable std::mutex m_mutex;
    std::deque<OutboundMessage> m_messages;
    const qsizetype m_capacity;
    quint64 m_dropped = 0;
    std::optional<OutboundMessage> m_status;
    bool m_statusChanged = false;
    struct State
    {
        OutboundMessage message;
        bool changed = true;
    };
    std::deque<State> m_states; // few: an alarm, the health and some fifty configs
};
