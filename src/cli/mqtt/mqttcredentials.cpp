#include "mqttcredentials.h"

#include <QFile>
#include <QList>

MqttCredentials MqttCredentials::fromEnvironment()
{
    MqttCredentials credentials;
    credentials.user = qgetenv("KELDRO_MQTT_USER");
    if (!credentials.user.isEmpty())
        credentials.password = qgetenv("KELDRO_MQTT_PASSWORD");
    return credentials;
}

std::optional<MqttCredentials> MqttCredentials::fromFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("--mqtt-auth %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    MqttCredentials credentials;
    int number = 0;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray line : lines) {
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith('#'))
            continue;
        const int equals = line.indexOf('=');
        const QByteArray key = line.left(equals).trimmed();
        if (equals > 0 && key == "user") {
            credentials.user = line.mid(equals + 1).trimmed();
        } else if (equals > 0 && key == "password") {
            // A password may begin or end with spaces; only the line break is not its own.
            credentials.password = line.mid(equals + 1);
        } else {
            *error = QStringLiteral("--mqtt-auth %1, line %2: expected user=NAME or "
                                    "password=SECRET")
                         .arg(path)
                         .arg(number);
            return std::nullopt;
        }
    }
    if (credentials.user.isEmpty()) {
        *error = QStringLiteral("--mqtt-auth %1: no user=NAME line").arg(path);
        return std::nullopt;
    }
    return credentials;
}
