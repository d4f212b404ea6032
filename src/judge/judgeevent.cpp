#include "judge/judgeevent.h"

#include "judge/limits.h"
#include "protocol/displaytext.h"
#include "record/recordformat.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringBuilder>
#include <array>
#include <cmath>

namespace {

constexpr std::array<const char *, 4> KindNames{"protection", "limit", "state", "link"};
constexpr std::array<const char *, 7> StateNames{"raised", "cleared", "changed", "opened",
                                                 "lost",   "stale",   "live"};

// Whole numbers as integers: 'g' would write a million as 1e+06.
void appendJsonNumber(QByteArray &out, const std::optional<double> &value)
{
    if (!value)
        out.append("null");
    else if (std::trunc(*value) == *value && std::abs(*value) < 9007199254740992.0)
        out.append(QByteArray::number(qint64(*value)));
    else
        out.append(QByteArray::number(*value, 'g', QLocale::FloatingPointShortest));
}

template <std::size_t N> int indexOf(const std::array<const char *, N> &names, const QString &name)
{
    for (std::size_t i = 0; i < N; ++i)
        if (name == QLatin1String(names[i]))
            return int(i);
    return -1;
}

// What the name says about the field; the cell or sensor come from their own keys.
bool describeName(JudgeEvent *event)
{
    const QString &name = event->name;
    switch (event->kind) {
    case EventKind::Protection:
        for (int bit = 0; bit < ProtectionFlagCount; ++bit)
            if (name ==
                QLatin1String(RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit])) {
                event->field = EventField::ProtectionFlag;
                event->index = bit;
                return true;
            }
        return false;
    case EventKind::Limit:
        for (int i = 0; i < LimitCount; ++i) {
            if (name != QLatin1String(limitInfo(Limit(i)).eventName))
                continue;
            switch (Limit(i)) {
            case Limit::CellMin:
            case Limit::CellMax:
            case Limit::CellSpread:
                event->field = EventField::Cell;
                event->index = event->cell - 1;
                break;
            case Limit::PackMin:
            case Limit::PackMax:
                event->field = EventField::Pack;
                break;
            case Limit::ChargeCurrent:
            case Limit::DischargeCurrent:
                event->field = EventField::Current;
                break;
            case Limit::TemperatureMin:
            case Limit::TemperatureMax:
                event->field = EventField::Sensor;
                for (int sensor = 0; sensor < TemperatureSensorCount; ++sensor)
                    if (event->sensor ==
                        QLatin1String(
                            RecordColumns::Names[RecordColumns::FirstTemperature + sensor]))
                        event->index = sensor;
                break;
            case Limit::SocMin:
                event->field = EventField::StateOfCharge;
                break;
            }
            return true;
        }
        return false;
    case EventKind::State:
        event->field =
            name == QLatin1String("system_state") ? EventField::SystemState : EventField::BmsState;
        return name == QLatin1String("system_state") || name == QLatin1String("bms_state");
    case EventKind::Link:
        return name == QLatin1String("link");
    }
    return false;
}

} // namespace

const char *eventKindName(EventKind kind)
{
    return KindNames[int(kind)];
}

const char *eventStateName(EventState state)
{
    return StateNames[int(state)];
}

bool JudgeEvent::isSameAlarm(const JudgeEvent &other) const
{
    return kind == other.kind && name == other.name && cell == other.cell &&
           sensor == other.sensor && port == other.port;
}

QByteArray JudgeEvent::toJson() const
{
    QByteArray out;
    out.reserve(160 + text.size() * 3);
    out.append("{\"time\":\"");
    appendRecordTime(out, timeMs);
    out.append("\",\"port\":");
    appendJsonString(out, port.toUtf8());
    out.append(",\"kind\":\"").append(eventKindName(kind));
    out.append("\",\"name\":");
    appendJsonString(out, name.toUtf8());
    out.append(",\"state\":\"").append(eventStateName(state));
    out.append("\",\"cell\":");
    if (cell > 0)
        out.append(QByteArray::number(cell));
    else
        out.append("null");
    out.append(",\"sensor\":");
    if (sensor.isEmpty())
        out.append("null");
    else
        appendJsonString(out, sensor.toUtf8());
    out.append(",\"value\":");
    appendJsonNumber(out, value);
    out.append(",\"limit\":");
    appendJsonNumber(out, limit);
    out.append(",\"text\":");
    appendJsonString(out, text.toUtf8());
    out.append('}');
    return out;
}

std::optional<JudgeEvent> JudgeEvent::fromJson(const QByteArray &line, QString *errorMessage)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (!document.isObject()) {
        *errorMessage = parseError.error != QJsonParseError::NoError
                            ? parseError.errorString()
                            : QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    auto fail = [&](const char *key, const char *what) {
        *errorMessage = QLatin1String(key) % QLatin1String(": ") % QLatin1String(what);
        return std::nullopt;
    };
    JudgeEvent event;
    const auto time = parseRecordTime(object.value(QLatin1String("time")).toString());
    if (!time)
        return fail("time", "not a time like 2026-12-07T16:58:03.123Z");
    event.timeMs = *time;
    event.port = object.value(QLatin1String("port")).toString();
    const int kind = indexOf(KindNames, object.value(QLatin1String("kind")).toString());
    if (kind < 0)
        return fail("kind", "not protection, limit, state or link");
    event.kind = EventKind(kind);
    const int state = indexOf(StateNames, object.value(QLatin1String("state")).toString());
    if (state < 0)
        return fail("state", "not raised, cleared, changed, opened, lost, stale or live");
    event.state = EventState(state);
    event.name = object.value(QLatin1String("name")).toString();
    const QJsonValue cell = object.value(QLatin1String("cell"));
    if (!cell.isNull() && !cell.isUndefined()) {
        event.cell = cell.toInt();
        if (event.cell < 1 || event.cell > 15)
            return fail("cell", "not a cell from 1 to 15");
    }
    event.sensor = object.value(QLatin1String("sensor")).toString();
    for (auto [key, target] :
         {std::pair{"value", &event.value}, std::pair{"limit", &event.limit}}) {
        const QJsonValue number = object.value(QLatin1String(key));
        if (number.isDouble())
            *target = number.toDouble();
        else if (!number.isNull() && !number.isUndefined())
            return fail(key, "not a number");
    }
    event.text = object.value(QLatin1String("text")).toString();
    if (!describeName(&event))
        return fail("name", "not an event name of its kind");
    event.isAlarm = (event.kind == EventKind::Limit || event.kind == EventKind::Protection) &&
                    (event.state == EventState::Raised || event.state == EventState::Cleared);
    return event;
}

bool readEventLines(QIODevice *device, QVector<JudgeEvent> *events, QString *errorMessage)
{
    qint64 lineNumber = 0;
    while (!device->atEnd()) {
        const QByteArray line = device->readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty())
            continue;
        QString error;
        const auto event = JudgeEvent::fromJson(line, &error);
        if (!event) {
            *errorMessage =
                QLatin1String("line ") % QString::number(lineNumber) % QLatin1String(": ") % error;
            return false;
        }
        events->append(*event);
    }
    return true;
}
