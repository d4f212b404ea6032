#include "homeassistantdiscovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Sensor
{
    const char *id;
    const char *name;
    const char *unit;
    const char *deviceClass;
    QString valueTemplate;
};

QString field(const char *key)
{
    return QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(key));
}

// The cells a layout does not carry are null in the JSON.
QString overCells(const QString &expression)
{
    QStringList cells;
    for (int i = 1; i <= 15; ++i)
        cells << QStringLiteral("value_json.cell%1_mV").arg(i);
    return QStringLiteral("{% set c = [%1] | reject('none') | list %}{{ %2 }}")
        .arg(cells.join(QStringLiteral(", ")), expression);
}

} // namespace

QList<OutboundMessage> homeAssistantDiscovery(const QByteArray &prefix, const QByteArray &board)
{
    const QString base = QString::fromUtf8(prefix + '/' + board);
    // Discovery node ids allow letters, digits, _ and - only.
    QByteArray node = "keldro_" + board;
    for (char &c : node) {
        if (!QChar::isLetterOrNumber(uchar(c)) && c != '_' && c != '-')
            c = '_';
    }
    const QString device = QString::fromLatin1(node);
    const Sensor sensors[] = {
        {"soc", "State of charge", "%", "battery", field("soc_pct")},
        {"pack_voltage", "Pack voltage", "mV", "voltage", field("pack_mV")},
        {"current", "Current", "mA", "current", field("current_mA")},
        {"cell_min", "Lowest cell", "mV", "voltage", overCells(QStringLiteral("c | min"))},
        {"cell_max", "Highest cell", "mV", "voltage", overCells(QStringLiteral("c | max"))},
        {"cell_spread", "Cell spread", "mV", "voltage",
         overCells(QStringLiteral("(c | max) - (c | min)"))},
        {"ntc1", "BAT_NTC1", "°C", "temperature", field("ntc1_C")},
        {"ntc2", "BAT_NTC2", "°C", "temperature", field("ntc2_C")},
        {"ntc3", "BAT_NTC3", "°C", "temperature", field("ntc3_C")},
        {"self_discharge", "SELF-DSG temperature", "°C", "temperature", field("self_discharge_C")},
        {"mosfet", "MOSFET temperature", "°C", "temperature", field("mosfet_C")},
    };
    QList<OutboundMessage> messages;
    for (const Sensor &sensor : sensors) {
        const QString id = QString::fromLatin1(sensor.id);
        const QJsonObject config{
            {QStringLiteral("name"), QString::fromUtf8(sensor.name)},
            {QStringLiteral("unique_id"), device + QLatin1Char('_') + id},
            {QStringLiteral("state_topic"), base + QStringLiteral("/telemetry")},
            {QStringLiteral("value_template"), sensor.valueTemplate},
            {QStringLiteral("unit_of_measurement"), QString::fromUtf8(sensor.unit)},
            {QStringLiteral("device_class"), QString::fromLatin1(sensor.deviceClass)},
            {QStringLiteral("state_class"), QStringLiteral("measurement")},
            {QStringLiteral("availability_topic"), base + QStringLiteral("/status")},
            {QStringLiteral("device"),
             QJsonObject{
                 {QStringLiteral("identifiers"), QJsonArray{device}},
                 {QStringLiteral("name"), QStringLiteral("BMS %1").arg(QString::fromUtf8(board))},
                 {QStringLiteral("model"), QStringLiteral("keldro")}}},
        };
        OutboundMessage message;
        message.kind = OutboundMessage::Kind::Discovery;
        message.topic = "homeassistant/sensor/" + node + '/' + sensor.id + "/config";
        message.payload = QJsonDocument(config).toJson(QJsonDocument::Compact);
        messages.append(message);
    }
    return messages;
}
