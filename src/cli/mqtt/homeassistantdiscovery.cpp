#include "homeassistantdiscovery.h"

#include "protocol/displaytext.h"
#include "record/recordformat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Entity
{
    bool offered = true;
    QString id;
    QString name;
    QString unit; // empty for a binary sensor
    QString deviceClass;
    QString stateTopic; // under the board's topics: "telemetry", "alarm"
    QString valueTemplate;
    QString payloadOn; // a binary sensor's; the template renders one of the two
    QString payloadOff;
};

QString field(const QString &key)
{
    return QStringLiteral("{{ value_json.%1 }}").arg(key);
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

Entity sensor(const QString &id, const QString &name, const char *unit, const char *deviceClass,
              const QString &valueTemplate)
{
    return {true,
            id,
            name,
            QString::fromUtf8(unit),
            QLatin1String(deviceClass),
            QStringLiteral("telemetry"),
            valueTemplate,
            QString(),
            QString()};
}

// Device class "problem": on means trouble.
Entity problem(const QString &id, const QString &name, const char *stateTopic,
               const QString &valueTemplate, const char *on, const char *off)
{
    return {true,
            id,
            name,
            QString(),
            QStringLiteral("problem"),
            QLatin1String(stateTopic),
            valueTemplate,
            QLatin1String(on),
            QLatin1String(off)};
}

// The alarm topic holds a JSON array of the alarms raised now, [] for none. Whatever
// else it holds (nothing, an older run's "ok") is no alarm either.
const char AnyAlarmTemplate[] =
    "{% set a = value_json if value_json is defined else [] %}"
    "{{ 'ON' if a is iterable and a is not string and a | length > 0 else 'OFF' }}";

Entity alarmEntity(bool offered)
{
    Entity alarm = problem(QStringLiteral("alarm"), QStringLiteral("Alarm"), "alarm",
                           QLatin1String(AnyAlarmTemplate), "ON", "OFF");
    alarm.offered = offered;
    return alarm;
}

QList<Entity> entities(TelemetryLayout layout, int cellCount, bool withAlarm)
{
    QList<Entity> list{
        sensor(QStringLiteral("soc"), QStringLiteral("State of charge"), "%", "battery",
               field(QStringLiteral("soc_pct"))),
        sensor(QStringLiteral("pack_voltage"), QStringLiteral("Pack voltage"), "mV", "voltage",
               field(QStringLiteral("pack_mV"))),
        sensor(QStringLiteral("current"), QStringLiteral("Current"), "mA", "current",
               field(QStringLiteral("current_mA"))),
        sensor(QStringLiteral("cell_min"), QStringLiteral("Lowest cell"), "mV", "voltage",
               overCells(QStringLiteral("c | min"))),
        sensor(QStringLiteral("cell_max"), QStringLiteral("Highest cell"), "mV", "voltage",
               overCells(QStringLiteral("c | max"))),
        sensor(QStringLiteral("cell_spread"), QStringLiteral("Cell spread"), "mV", "voltage",
               overCells(QStringLiteral("(c | max) - (c | min)"))),
    };
    Telemetry frame;
    frame.layout = layout;
    const char *const temperatureIds[TemperatureSensorCount] = {"ntc1", "ntc2", "ntc3",
                                                                "self_discharge", "mosfet"};
    const char *const temperatureNames[TemperatureSensorCount] = {
        "BAT_NTC1", "BAT_NTC2", "BAT_NTC3", "SELF-DSG temperature", "MOSFET temperature"};
    for (int i = 0; i < TemperatureSensorCount; ++i) {
        list.append(sensor(
            QLatin1String(temperatureIds[i]), QLatin1String(temperatureNames[i]), "°C",
            "temperature",
            field(QLatin1String(RecordColumns::Names[RecordColumns::FirstTemperature + i]))));
        list.last().offered = frame.carries(TemperatureSensor(i));
    }
    for (int cell = 1; cell <= Telemetry::MaxCells; ++cell) {
        list.append(sensor(QStringLiteral("cell%1").arg(cell), QStringLiteral("Cell %1").arg(cell),
                           "mV", "voltage", field(QStringLiteral("cell%1_mV").arg(cell))));
        list.last().offered = cell <= cellCount;
    }
    // Home Assistant has no device class for a resistance. Null until a current step
    // has been measured, which renders as "None": "unknown".
    for (int cell = 1; cell <= Telemetry::MaxCells; ++cell) {
        Entity resistance =
            sensor(QStringLiteral("cell%1_resistance").arg(cell),
                   QStringLiteral("Cell %1 resistance").arg(cell), "mΩ", "",
                   QStringLiteral("{{ value_json.cells[%1].resistance_mOhm }}").arg(cell - 1));
        resistance.stateTopic = QStringLiteral("health");
        resistance.offered = cell <= cellCount;
        list.append(resistance);
    }
    for (int bit = 0; bit < ProtectionFlagCount; ++bit) {
        const QString key =
            QLatin1String(RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit]);
        list.append(problem(key,
                            DisplayText::protectionFlagName(bit) + QStringLiteral(" protection"),
                            "telemetry", field(key), "1", "0"));
        list.last().offered = frame.hasExtendedFields();
    }
    list.append(alarmEntity(withAlarm));
    return list;
}

} // namespace

QList<OutboundMessage> homeAssistantDiscovery(const QByteArray &prefix, const QByteArray &board,
                                              std::optional<TelemetryLayout> layout, int cellCount,
                                              bool withAlarm)
{
    const QString base = QString::fromUtf8(prefix + '/' + board);
    // Discovery node ids allow letters, digits, _ and - only.
    QByteArray node = "keldro_" + board;
    for (char &c : node) {
        if (!QChar::isLetterOrNumber(uchar(c)) && c != '_' && c != '-')
            c = '_';
    }
    const QString device = QString::fromLatin1(node);
    QList<OutboundMessage> messages;
    const QList<Entity> list =
        layout ? entities(*layout, cellCount, withAlarm) : QList<Entity>{alarmEntity(withAlarm)};
    for (const Entity &entity : list) {
        const bool binary = entity.unit.isEmpty();
        OutboundMessage message;
        message.kind = OutboundMessage::Kind::Discovery;
        message.topic = (binary ? "homeassistant/binary_sensor/" : "homeassistant/sensor/") + node +
                        '/' + entity.id.toLatin1() + "/config";
        if (!entity.offered) {
            messages.append(message);
            continue;
        }
        QJsonObject config{
            {QStringLiteral("name"), entity.name},
            {QStringLiteral("unique_id"), device + QLatin1Char('_') + entity.id},
            {QStringLiteral("state_topic"), base + QLatin1Char('/') + entity.stateTopic},
            {QStringLiteral("value_template"), entity.valueTemplate},
            {QStringLiteral("availability_topic"), base + QStringLiteral("/status")},
            {QStringLiteral("device"),
             QJsonObject{
                 {QStringLiteral("identifiers"), QJsonArray{device}},
                 {QStringLiteral("name"), QStringLiteral("BMS %1").arg(QString::fromUtf8(board))},
                 {QStringLiteral("model"), QStringLiteral("keldro")}}},
        };
        if (!entity.deviceClass.isEmpty())
            config.insert(QStringLiteral("device_class"), entity.deviceClass);
        if (binary) {
            config.insert(QStringLiteral("payload_on"), entity.payloadOn);
            config.insert(QStringLiteral("payload_off"), entity.payloadOff);
        } else {
            config.insert(QStringLiteral("unit_of_measurement"), entity.unit);
            config.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        }
        message.payload = QJsonDocument(config).toJson(QJsonDocument::Compact);
        messages.append(message);
    }
    return messages;
}
