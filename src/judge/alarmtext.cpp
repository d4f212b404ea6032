#include "judge/alarmtext.h"

#include "judge/judgeevent.h"
#include "judge/limits.h"
#include "protocol/cellbalance.h"
#include "protocol/displaytext.h"
#include "protocol/telemetry.h"

#include <QLocale>
#include <QStringBuilder>
#include <cmath>
#include <optional>

namespace {

std::optional<Limit> limitOf(const JudgeEvent &event)
{
    if (event.kind != EventKind::Limit)
        return std::nullopt;
    for (int i = 0; i < LimitCount; ++i)
        if (event.name == QLatin1String(limitInfo(Limit(i)).eventName))
            return Limit(i);
    return std::nullopt;
}

QString cellName(int index)
{
    return QLatin1String("cell ") % QString::number(index + 1);
}

// The value the alarm is about in the frame now, in the unit of its limit; none when
// the frame does not carry it.
std::optional<double> valueNow(Limit limit, const JudgeEvent &raised, const Telemetry &now)
{
    switch (limit) {
    case Limit::CellMin:
    case Limit::CellMax:
        if (raised.index >= 0 && raised.index < now.cellCount && raised.index < now.MaxCells)
            return now.cellMillivolts[size_t(raised.index)];
        return std::nullopt;
    case Limit::CellSpread: {
        const CellBalance balance = cellBalance(now);
        if (balance.isValid())
            return balance.spreadMillivolts();
        return std::nullopt;
    }
    case Limit::PackMin:
    case Limit::PackMax:
        return now.packMillivolts;
    case Limit::ChargeCurrent:
        return now.currentMilliamps;
    case Limit::DischargeCurrent:
        return -double(now.currentMilliamps);
    case Limit::TemperatureMin:
    case Limit::TemperatureMax:
        if (raised.index >= 0 && raised.index < TemperatureSensorCount &&
            now.carries(TemperatureSensor(raised.index)))
            return now.temperature(TemperatureSensor(raised.index)) / 10.0;
        return std::nullopt;
    case Limit::SocMin:
        return now.stateOfCharge;
    }
    return std::nullopt;
}

} // namespace

QString judgedNumber(double value)
{
    if (std::trunc(value) == value && std::abs(value) < 9007199254740992.0)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString alarmName(const JudgeEvent &raised)
{
    if (raised.kind == EventKind::Protection)
        return DisplayText::protectionFlagName(raised.index);
    const std::optional<Limit> limit = limitOf(raised);
    if (!limit)
        return raised.name;
    switch (*limit) {
    case Limit::CellMin:
    case Limit::CellMax:
        return cellName(raised.index);
    case Limit::CellSpread:
        return QStringLiteral("spread");
    case Limit::PackMin:
    case Limit::PackMax:
        return QStringLiteral("pack");
    case Limit::ChargeCurrent:
        return QStringLiteral("charge current");
    case Limit::DischargeCurrent:
        return QStringLiteral("discharge current");
    case Limit::TemperatureMin:
    case Limit::TemperatureMax:
        if (raised.index >= 0 && raised.index < TemperatureSensorCount)
            return DisplayText::temperatureSensorName(TemperatureSensor(raised.index));
        return raised.sensor;
    case Limit::SocMin:
        return QStringLiteral("SOC");
    }
    return raised.name;
}

QString alarmNow(const JudgeEvent &raised, const Telemetry *now)
{
    const std::optional<Limit> limit = limitOf(raised);
    if (!limit || !raised.limit)
        return alarmName(raised);
    const LimitInfo &info = limitInfo(*limit);
    std::optional<double> value = now ? valueNow(*limit, raised, *now) : std::nullopt;
    if (!value)
        value = raised.value;
    QString subject = alarmName(raised);
    if (value)
        subject += QLatin1Char(' ') % judgedNumber(*value) % QLatin1Char(' ') %
                   QString::fromUtf8(limitUnitSymbol(info.unit));
    if (*limit == Limit::CellSpread) {
        const CellBalance balance = now ? cellBalance(*now) : CellBalance();
        const int low = balance.isValid() ? balance.lowestCell : raised.index;
        const int high = balance.isValid() ? balance.highestCell : raised.otherIndex;
        if (low >= 0 && high >= 0)
            subject += QStringLiteral(" (%1–%2)")
                           .arg(cellName(qMin(low, high)), cellName(qMax(low, high)));
    }
    return subject % QLatin1String(info.isMinimum ? " < " : " > ") % judgedNumber(*raised.limit);
}

QString alarmLogLine(const JudgeEvent &event)
{
    if (!event.isAlarm)
        return QString();
    if (event.state == EventState::Raised)
        return QLatin1String("ALARM ") % event.text;
    if (event.state == EventState::Cleared)
        return QLatin1String("cleared: ") % alarmName(event);
    return QString();
}
