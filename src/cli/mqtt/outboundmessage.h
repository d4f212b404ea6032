#pragma once

#include <QByteArray>

// One message on its way to the broker.
struct OutboundMessage
{
    enum class Kind { Telemetry, Text, Event, Status, Alarm, Health, Discovery };

    Kind kind = Kind::Telemetry;
    QByteArray topic; // the whole topic, prefix included
    QByteArray payload;
    // Status, alarm, health and discovery messages are retained and go at QoS 1 whatever --qos
    // says: a dashboard that subscribes later must still find the board's last word.
    bool retained() const
    {
        return kind == Kind::Status || kind == Kind::Alarm || kind == Kind::Health ||
               kind == Kind::Discovery;
    }
};
