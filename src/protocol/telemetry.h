#pragma once

#include <QtGlobal>
#include <array>

// The two telemetry layouts the board sends, told apart by byte 2 of the frame.
enum class TelemetryLayout : quint8 {
    Type1 = 0x01, // 60 bytes, 9 cells, 4 temperatures, no protection flags
    Type2 = 0x02, // 72 bytes, 15 cells, 5 temperatures, protection flags
};

// The five temperature sensors, in the order of the frame and of a recording's columns.
enum class TemperatureSensor : quint8 { Ntc1, Ntc2, Ntc3, SelfDischarge, Mosfet };
constexpr int TemperatureSensorCount = 5;

// One decoded telemetry frame. Fields that the layout does not carry
// (cells 10-15, ntc3 and protectionFlags in type 1) stay zero and must not be shown.
struct Telemetry
{
    static constexpr int MaxCells = 15;

    TelemetryLayout layout = TelemetryLayout::Type2;
    int cellCount = 0; // 9 or 15
    std::array<quint16, MaxCells> cellMillivolts{};
    quint16 batteryMillivolts = 0;
    quint16 packMillivolts = 0;
    quint8 stateOfCharge = 0;
    qint32 currentMilliamps = 0;
    qint16 ntc1 = 0;             // "BAT_NTC1", tenths of a degree
    qint16 ntc2 = 0;             // "BAT_NTC2"
    qint16 ntc3 = 0;             // "BAT_NTC3", type 2 only
    qint16 selfDischargeNtc = 0; // "SELF-DSG"
    qint16 mosfetNtc = 0;        // "MOSFET"
    quint16 cycleCount = 0;
    quint16 manufactureDate = 0; // packed like a FAT directory date
    quint8 versionMajor = 0;
    quint8 versionMinor = 0;
    quint8 model = 0;
    quint8 systemState = 0;
    quint8 bqStatus = 0;
    quint8 bmsState = 0;
    quint8 protectionFlags = 0; // type 2 only, bits 0-6
    quint8 cellType = 0;

    bool hasExtendedFields() const { return layout == TelemetryLayout::Type2; }
    bool carries(TemperatureSensor sensor) const
    {
        return sensor != TemperatureSensor::Ntc3 || hasExtendedFields();
    }
    qint16 temperature(TemperatureSensor sensor) const
    {
        const std::array<qint16, TemperatureSensorCount> tenths{ntc1, ntc2, ntc3, selfDischargeNtc,
                                                                mosfetNtc};
        return tenths[int(sensor)];
    }
};
