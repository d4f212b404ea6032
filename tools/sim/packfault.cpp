#include "packfault.h"

#include "protocol/displaytext.h"
#include "record/recordformat.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace {

const char *const SensorNames[TemperatureSensorCount] = {"ntc1", "ntc2", "ntc3", "self_discharge",
                                                         "mosfet"};

struct Unit
{
    const char *symbol;
    double low;
    double high;
    bool whole; // the frame carries whole units
};

Unit unitOf(PackFault::Target target)
{
    switch (target) {
    case PackFault::Target::Cell:
    case PackFault::Target::Pack:
        return {"mV", 0, 65535, true};
    case PackFault::Target::Current:
        return {"mA", double(std::numeric_limits<qint32>::min()),
                double(std::numeric_limits<qint32>::max()), true};
    case PackFault::Target::Soc:
        return {"%", 0, 255, true};
    case PackFault::Target::Temperature:
        // Tenths of a degree in a signed 16-bit word.
        return {"C", -3276.8, 3276.7, false};
    case PackFault::Target::Flag:
        break;
    }
    return {"", 0, 0, true};
}

// The target's name alone: "cell7", "ntc2", "ov".
bool parseTarget(const QString &name, PackFault *fault)
{
    static const QRegularExpression cell(QStringLiteral("^cell([0-9]{1,2})$"));
    if (const auto match = cell.match(name); match.hasMatch()) {
        fault->target = PackFault::Target::Cell;
        fault->index = match.captured(1).toInt() - 1;
        return fault->index >= 0 && fault->index < Telemetry::MaxCells;
    }
    const std::pair<const char *, PackFault::Target> single[] = {
        {"pack", PackFault::Target::Pack},
        {"current", PackFault::Target::Current},
        {"soc", PackFault::Target::Soc}};
    for (const auto &[word, target] : single)
        if (name == QLatin1String(word)) {
            fault->target = target;
            return true;
        }
    for (int sensor = 0; sensor < TemperatureSensorCount; ++sensor)
        if (name == QLatin1String(SensorNames[sensor])) {
            fault->target = PackFault::Target::Temperature;
            fault->index = sensor;
            return true;
        }
    for (int bit = 0; bit < ProtectionFlagCount; ++bit)
        if (name == QLatin1String(RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit])) {
            fault->target = PackFault::Target::Flag;
            fault->index = bit;
            return true;
        }
    return false;
}

std::optional<qint64> parseSeconds(const QString &text)
{
    static const QRegularExpression seconds(QStringLiteral("^[0-9]+(\\.[0-9]{1,3})?$"));
    if (!seconds.match(text).hasMatch())
        return std::nullopt;
    const double value = text.toDouble();
    if (value > 1e9)
        return std::nullopt;
    return qint64(std::llround(value * 1000));
}

} // namespace

std::optional<PackFault> PackFault::parse(const QString &text, QString *error)
{
    static const QRegularExpression form(
        QStringLiteral("^([a-z_0-9]+)(?:=([^@]*))?@([^-]*)(?:-(.*))?$"));
    const QRegularExpressionMatch match = form.match(text);
    PackFault fault;
    auto fail = [&](const QString &why) {
        *error = QStringLiteral("\"%1\": %2").arg(text, why);
        return std::nullopt;
    };
    if (!match.hasMatch())
        return fail(QStringLiteral("not TARGET=VALUE@FROM-UNTIL (cell7=4300mV@10-20) or "
                                   "FLAG@FROM-UNTIL (ov@5-8)"));
    if (!parseTarget(match.captured(1), &fault))
        return fail(QStringLiteral("%1 is none of cell1 … cell15, pack, current, soc, ntc1, "
                                   "ntc2, ntc3, self_discharge, mosfet, oc, sc, ovb, ov, uv, "
                                   "low_temp, high_temp")
                        .arg(match.captured(1)));

    const bool hasValue = match.capturedLength(2) > 0 || text.contains(QLatin1Char('='));
    if (fault.target == Target::Flag) {
        if (hasValue)
            return fail(QStringLiteral("a flag takes no value: %1@FROM-UNTIL raises it")
                            .arg(match.captured(1)));
    } else {
        const Unit unit = unitOf(fault.target);
        static const QRegularExpression quantity(
            QStringLiteral("^(-?[0-9]+(?:\\.[0-9]+)?)([A-Za-z%]*)$"));
        const QRegularExpressionMatch value = quantity.match(match.captured(2));
        const QString example =
            QStringLiteral("%1=VALUE%2").arg(match.captured(1), QLatin1String(unit.symbol));
        if (!hasValue || !value.hasMatch())
            return fail(QStringLiteral("give a value with its unit: %1").arg(example));
        if (value.captured(2) != QLatin1String(unit.symbol))
            return fail(
                QStringLiteral("the unit is %1: %2").arg(QLatin1String(unit.symbol), example));
        fault.value = value.captured(1).toDouble();
        // Whole units, or tenths of a degree: what the frame carries.
        const int decimals = value.captured(1).section(QLatin1Char('.'), 1).size();
        if (decimals > (unit.whole ? 0 : 1) || fault.value < unit.low || fault.value > unit.high)
            return fail(QStringLiteral("%1 is not %2 from %3 to %4 %5")
                            .arg(value.captured(1), unit.whole
                                                        ? QStringLiteral("a whole number")
                                                        : QStringLiteral("a number in tenths"))
                            .arg(unit.low, 0, 'f', unit.whole ? 0 : 1)
                            .arg(unit.high, 0, 'f', unit.whole ? 0 : 1)
                            .arg(QLatin1String(unit.symbol)));
        if (fault.target == Target::Temperature)
            fault.value = std::round(fault.value * 10);
    }

    const auto from = parseSeconds(match.captured(3));
    const auto until =
        match.captured(4).isNull() ? std::optional<qint64>(-1) : parseSeconds(match.captured(4));
    if (!from || !until)
        return fail(QStringLiteral("the seconds after @ are FROM or FROM-UNTIL, such as @10 or "
                                   "@10-20.5"));
    if (*until >= 0 && *until <= *from)
        return fail(
            QStringLiteral("it ends at second %1, not after it starts").arg(match.captured(4)));
    fault.fromMs = *from;
    fault.untilMs = *until;
    return fault;
}

QString PackFault::problemWith(TelemetryLayout layout) const
{
    if (layout == TelemetryLayout::Type2)
        return QString();
    if (target == Target::Cell && index >= 9)
        return QStringLiteral("cell%1: a layout 1 frame has 9 cells").arg(index + 1);
    if (target == Target::Temperature && TemperatureSensor(index) == TemperatureSensor::Ntc3)
        return QStringLiteral("ntc3: a layout 1 frame has no BAT_NTC3");
    if (target == Target::Flag)
        return QStringLiteral("%1: a layout 1 frame has no protection flags")
            .arg(QLatin1String(RecordColumns::Names[RecordColumns::FirstProtectionFlag + index]));
    return QString();
}

void PackFault::applyTo(Telemetry *t) const
{
    switch (target) {
    case Target::Cell:
        t->cellMillivolts[size_t(index)] = quint16(value);
        break;
    case Target::Pack:
        t->packMillivolts = quint16(value);
        break;
    case Target::Current:
        t->currentMilliamps = qint32(value);
        break;
    case Target::Soc:
        t->stateOfCharge = quint8(value);
        break;
    case Target::Temperature: {
        qint16 *tenths[TemperatureSensorCount] = {&t->ntc1, &t->ntc2, &t->ntc3,
                                                  &t->selfDischargeNtc, &t->mosfetNtc};
        *tenths[index] = qint16(value);
        break;
    }
    case Target::Flag:
        t->protectionFlags |= quint8(1u << index);
        break;
    }
}
