#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// User name and password for the broker. They come from the environment or from a
// file, never from the command line, where any user of the machine can read them.
struct MqttCredentials
{
    QByteArray user;
    QByteArray password;

    bool isEmpty() const { return user.isEmpty(); }

    // KELDRO_MQTT_USER and KELDRO_MQTT_PASSWORD; empty when the user is unset.
    static MqttCredentials fromEnvironment();

    // A file of "user=NAME" and "password=SECRET" lines; blank lines and lines
    // starting with # are skipped, the value runs to the end of its line.
    // nullopt, with a one-line reason naming the file in error, when it cannot be
    // read or holds anything else.
    static std::optional<MqttCredentials> fromFile(const QString &path, QString *error);
};
