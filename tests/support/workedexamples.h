#pragma once

#include <QByteArray>
#include <QtEndian>

// The board's two telemetry frames that every suite and benchmark starts from, as
// the board's documentation prints them, and the check word fed bit by bit, the way
// the STM32 reference manual describes its CRC unit: the yardstick for the
// table-driven routine.
namespace WorkedExamples {

// Type 1: cells 3700-3707 and 3709 mV, 37045/37000 mV, SOC 80, -1500 mA,
// 25.3/25.1/30/-1.2 degrees, 12 cycles, 2021/3/9, version 1.6, model 4, system
// state 2, bq status 0x1F, BMS state 1, cell type 2.
inline const QByteArray type1Frame = QByteArray::fromHex(
    "FEEF013C740E750E760E770E780E790E7A0E7B0E7C0E7D0EB59088905000000024FAFFFFFD00FB002C01F4FF"
    "0C006952010604021F01020093EE90FC");

// Type 2: cells 3600-3614 mV, 54100/54000 mV, SOC 55, 2500 mA, 24.5/25/26/35/-5.5
// degrees, 300 cycles, 2021/3/9, version 2.10, model 6, system state 1, BMS state 2,
// flags 0x21, bq status 0x80, cell type 7.
inline const QByteArray type2Frame = QByteArray::fromHex(
    "FEEF0248100E110E120E130E140E150E160E170E180E190E1A0E1B0E1C0E1D0E1E0E54D3F0D23700C4090000"
    "F500FA0004015E01C9FF2C016952020A06010221800700005A585102");

inline quint32 bitwiseCrc32Words(const uchar *data, int wordCount)
{
    quint32 crc = 0xFFFFFFFF;
    for (int i = 0; i < wordCount; ++i) {
        crc ^= qFromLittleEndian<quint32>(data + 4 * i);
        for (int bit = 0; bit < 32; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

} // namespace WorkedExamples
