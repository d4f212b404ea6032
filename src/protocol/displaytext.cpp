#include "protocol/displaytext.h"

#include <QStringBuilder>
#include <QtGlobal>
#include <array>

namespace {

QString hexCode(quint8 code)
{
    return QLatin1String("0x") % QString::number(code, 16);
}

// A code byte with a row shows "0x<code>" and the row's suffix; one without shows the
// table's fallback.
template <std::size_t N> QString codeText(quint8 code, const std::array<const char *, N> &suffixes)
{
    if (code >= N || !suffixes[code])
        return QStringLiteral("XX");
    return hexCode(code) % QLatin1String(suffixes[code]);
}

template <std::size_t N>
QString nameText(quint8 code, const std::array<const char *, N> &names, QLatin1String fallback)
{
    if (code >= N || !names[code])
        return fallback;
    return QLatin1String(names[code]);
}

constexpr std::array<const char *, 4> SystemStates{"|STANDBY", "|RESET", "|SYS ON", "|SYS OFF"};

constexpr std::array<const char *, 8> BmsStates{"|WAKEUP", "|DISCHARGE",     "|CHARGE",
                                                nullptr,   "|PRECHARGE",     "|CHARGE ERR",
                                                nullptr,   "|SELF-DISCHARGE"};

constexpr std::array<const char *, 7> Models{nullptr,     "BMS-VESTRO", "BMS-QUANDEL", "BMS-TOLVA",
                                             "BMS-HARLO", "BMS-MIRSK",  "BMS-BRISQ"};

constexpr std::array<const char *, 8> CellTypes{"VTC4", "VTC5", "25R", "20SG",
                                                "20PG", "25PG", "HE4", "VTC6"};

// A code without a name reads as its number, where the window shows "XX": a sentence
// about a state change must still tell the two states apart.
template <std::size_t N> QString stateName(quint8 code, const std::array<const char *, N> &suffixes)
{
    if (code >= N || !suffixes[code])
        return hexCode(code);
    return QLatin1String(suffixes[code] + 1);
}

} // namespace

QString DisplayText::unsignedDecimal(quint32 value)
{
    return QString::number(value);
}

QString DisplayText::signedDecimal(qint32 value)
{
    return QString::number(value);
}

QString DisplayText::temperature(qint16 tenthsOfDegree)
{
    // Divided in single precision and only then widened: the digits shown are those of
    // the float (25.3 is 25.2999992 there), which six significant digits round back.
    const float degrees = float(tenthsOfDegree) / 10.0f;
    return QString::number(double(degrees), 'g', 6);
}

QString DisplayText::bqStatus(quint8 status)
{
    return hexCode(status);
}

QString DisplayText::version(quint8 major, quint8 minor)
{
    return QString::number(major) % QLatin1Char('.') % QString::number(minor);
}

QString DisplayText::manufactureDate(quint16 packed)
{
    const int year = 1980 + (packed >> 9);
    const int month = (packed >> 5) & 0x0F;
    const int day = packed & 0x1F;
    return QString::number(year) % QLatin1Char('/') % QString::number(month) % QLatin1Char('/') %
           QString::number(day);
}

QString DisplayText::systemState(quint8 code)
{
    return codeText(code, SystemStates);
}

QString DisplayText::bmsState(quint8 code)
{
    return codeText(code, BmsStates);
}

QString DisplayText::model(quint8 code)
{
    return nameText(code, Models, QLatin1String("BMS-XX"));
}

QString DisplayText::cellType(quint8 code)
{
    return nameText(code, CellTypes, QLatin1String("XX"));
}

QString DisplayText::protectionFlag(quint8 flags, int bit)
{
    const bool set = bit >= 0 && bit < 8 && (flags >> bit) & 1;
    return set ? QStringLiteral("1") : QStringLiteral("0");
}

QString DisplayText::protectionFlagName(int bit)
{
    static constexpr std::array<const char *, ProtectionFlagCount> names{
        "OC", "SC", "OVB", "OV", "UV", "LOW_TEMP", "HIGH_TEMP"};
    return bit >= 0 && bit < ProtectionFlagCount ? QLatin1String(names[bit]) : QString();
}

QString DisplayText::temperatureSensorName(TemperatureSensor sensor)
{
    static constexpr std::array<const char *, TemperatureSensorCount> names{
        "BAT_NTC1", "BAT_NTC2", "BAT_NTC3", "SELF-DSG", "MOSFET"};
    return QLatin1String(names[int(sensor)]);
}

QString DisplayText::systemStateName(quint8 code)
{
    return stateName(code, SystemStates);
}

QString DisplayText::bmsStateName(quint8 code)
{
    return stateName(code, BmsStates);
}

TelemetryTexts renderTelemetry(const Telemetry &telemetry)
{
    using namespace DisplayText;
    TelemetryTexts texts;
    texts.layout = telemetry.layout;
    texts.cellCount = qBound(0, telemetry.cellCount, Telemetry::MaxCells);
    for (int cell = 0; cell < texts.cellCount; ++cell)
        texts.cells[cell] = unsignedDecimal(telemetry.cellMillivolts[cell]);
    texts.battery = unsignedDecimal(telemetry.batteryMillivolts);
    texts.pack = unsignedDecimal(telemetry.packMillivolts);
    texts.current = signedDecimal(telemetry.currentMilliamps);
    texts.stateOfCharge = unsignedDecimal(telemetry.stateOfCharge);
    texts.ntc1 = temperature(telemetry.ntc1);
    texts.ntc2 = temperature(telemetry.ntc2);
    texts.selfDischargeNtc = temperature(telemetry.selfDischargeNtc);
    texts.mosfetNtc = temperature(telemetry.mosfetNtc);
    texts.cycleCount = unsignedDecimal(telemetry.cycleCount);
    texts.bqStatus = bqStatus(telemetry.bqStatus);
    texts.version = version(telemetry.versionMajor, telemetry.versionMinor);
    texts.manufactureDate = manufactureDate(telemetry.manufactureDate);
    texts.systemState = systemState(telemetry.systemState);
    texts.bmsState = bmsState(telemetry.bmsState);
    texts.model = model(telemetry.model);
    texts.cellType = cellType(telemetry.cellType);
    if (telemetry.hasExtendedFields()) {
        texts.ntc3 = temperature(telemetry.ntc3);
        for (int bit = 0; bit < ProtectionFlagCount; ++bit)
            texts.protectionFlags[bit] = protectionFlag(telemetry.protectionFlags, bit);
    }
    return texts;
}
