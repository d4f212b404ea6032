#include "mqtturl.h"

#include <QUrl>

namespace {

const quint16 PlainPort = 1883;
const quint16 TlsPort = 8883;

QString problem(const QString &text, const QString &what)
{
    return QStringLiteral("--mqtt \"%1\": %2").arg(text, what);
}

} // namespace

std::optional<MqttUrl> MqttUrl::parse(const QString &text, QString *error)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))) {
        *error = problem(text, QStringLiteral("not an mqtt://host[:port]/prefix or "
                                              "mqtts://host[:port]/prefix URL"));
        return std::nullopt;
    }
    if (url.host().isEmpty()) {
        *error = problem(text, QStringLiteral("names no broker host"));
        return std::nullopt;
    }
    if (!url.userInfo().isEmpty()) {
        *error = problem(text, QStringLiteral("carries credentials; put them in "
                                              "KELDRO_MQTT_USER and KELDRO_MQTT_PASSWORD "
                                              "or in a file named by --mqtt-auth"));
        return std::nullopt;
    }
    if (url.hasQuery() || url.hasFragment()) {
        *error = problem(text, QStringLiteral("has a ? or # part, which a topic prefix "
                                              "cannot hold"));
        return std::nullopt;
    }
    MqttUrl result;
    result.host = url.host();
    result.tls = scheme == QLatin1String("mqtts");
    const int port = url.port(result.tls ? TlsPort : PlainPort);
    if (port <= 0) {
        *error = problem(text, QStringLiteral("port 0"));
        return std::nullopt;
    }
    result.port = quint16(port);
    QString path = url.path(QUrl::FullyDecoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    result.prefix = path.mid(1);
    if (result.prefix.isEmpty())
        result.prefix = QStringLiteral("keldro");
    // Wildcards are for subscribers; an empty level is legal MQTT but almost always a typo.
    if (result.prefix.contains(QLatin1Char('+')) || result.prefix.contains(QLatin1Char('#')) ||
        result.prefix.contains(QLatin1String("//")) || result.prefix.startsWith(QLatin1Char('/'))) {
        *error = problem(text, QStringLiteral("the prefix \"%1\" is not a topic: no +, # or "
                                              "empty level")
                                   .arg(result.prefix));
        return std::nullopt;
    }
    return result;
}

QString MqttUrl::toString() const
{
    const QString host =
        this->host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(this->host) : this->host;
    return QStringLiteral("%1://%2:%3/%4")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), host)
        .arg(port)
        .arg(prefix);
}
