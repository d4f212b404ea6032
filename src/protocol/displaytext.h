#pragma once

#include "protocol/telemetry.h"

#include <QString>
#include <array>

// How each field of a telemetry frame reads in the window. Pure functions: every
// value of every byte yields a text.
namespace DisplayText {
QString unsignedDecimal(quint32 value);
QString signedDecimal(qint32 value);
QString temperature(qint16 tenthsOfDegree);    // 253 -> "25.3", 250 -> "25", -12 -> "-1.2"
QString bqStatus(quint8 status);               // 0x1F -> "0x1f"
QString version(quint8 major, quint8 minor);   // "1.6", "2.10"
QString manufactureDate(quint16 packed);       // 0x5269 -> "2021/3/9"
QString systemState(quint8 code);              // 2 -> "0x2|SYS ON", 4 -> "XX"
QString bmsState(quint8 code);                 // 1 -> "0x1|DISCHARGE", 3 -> "XX"
QString model(quint8 code);                    // 4 -> "BMS-HARLO", 0 -> "BMS-XX"
QString cellType(quint8 code);                 // 2 -> "25R", 8 -> "XX"
QString protectionFlag(quint8 flags, int bit); // "0" or "1"

// The names the window's labels give, for sentences about a value.
QString protectionFlagName(int bit);                // 3 -> "OV", 5 -> "LOW_TEMP"
QString temperatureSensorName(TemperatureSensor s); // Ntc2 -> "BAT_NTC2", Mosfet -> "MOSFET"
QString systemStateName(quint8 code);               // 2 -> "SYS ON", 4 -> "0x4"
QString bmsStateName(quint8 code);                  // 1 -> "DISCHARGE", 3 -> "0x3"
} // namespace DisplayText

constexpr int ProtectionFlagCount = 7; // bits 0-6: OC, SC, OVB, OV, UV, LOW_TEMP, HIGH_TEMP

// Every text a frame puts on the window. Entries the layout does not carry
// (cells past cellCount, ntc3 and flags of type 1) are left empty.
struct TelemetryTexts
{
    TelemetryLayout layout = TelemetryLayout::Type2;
    int cellCount = 0;
    std::array<QString, Telemetry::MaxCells> cells;
    QString battery, pack, current, stateOfCharge;
    QString ntc1, ntc2, ntc3, selfDischargeNtc, mosfetNtc;
    QString cycleCount, bqStatus, version, manufactureDate;
    QString systemState, bmsState, model, cellType;
    std::array<QString, ProtectionFlagCount> protectionFlags;
};

TelemetryTexts renderTelemetry(const Telemetry &telemetry);
