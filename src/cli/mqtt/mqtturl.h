#pragma once

#include <QString>
#include <optional>

// Where to publish: mqtt://host[:port]/prefix, or mqtts:// for TLS. The prefix is the
// topic levels every board's topics start with.
struct MqttUrl
{
    QString host;
    quint16 port = 1883;
    QString prefix; // "keldro" when the URL names none
    bool tls = false;

    // nullopt, with a one-line reason in error, when text is not such a URL. User
    // names and passwords in the URL are refused: other users can read a command line.
    static std::optional<MqttUrl> parse(const QString &text, QString *error);

    QString toString() const; // "mqtt://host:1883/prefix", never with credentials
};
