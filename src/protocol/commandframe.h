#pragma once

#include <QtGlobal>
#include <array>
#include <optional>

// Everything the tool sends to the board is one 12-byte command frame:
//   FE EF 01 0C, command code, three parameter bytes, check word (little-endian)
// with crc32Words over bytes 0-7.
using CommandFrame = std::array<uchar, 12>;

enum class CommandCode : uchar {
    Poll = 0x00,
    PowerOff = 0xA5,
    Boot = 0x8B, // the board's firmware-update mode
    SocCalibration = 0xE3,
    SetManufactureDate = 0xC1,
};

// Builds a frame by the layout rule. The date parameter goes into bytes 5-6 high
// byte first, the opposite of the date in telemetry frames.
CommandFrame buildCommandFrame(CommandCode code, quint16 parameter = 0);

// The constant frames, check word included.
extern const CommandFrame pollFrame;           // FE EF 01 0C 00 00 00 00 27 C8 E3 65
extern const CommandFrame powerOffFrame;       // FE EF 01 0C A5 00 00 00 42 F5 09 83
extern const CommandFrame bootFrame;           // FE EF 01 0C 8B 00 00 00 A8 E3 A4 27
extern const CommandFrame socCalibrationFrame; // FE EF 01 0C E3 00 00 00 87 C8 09 AD

// FAT-style packed date: year - 1980 in bits 15-9, month in 8-5, day in 4-0.
// Only 16 bits survive, so years outside 1980-2107 wrap modulo 128 years.
quint16 packDate(int year, int month, int day);
CommandFrame setManufactureDateFrame(int year, int month, int day);

// The other direction, for the board simulator and the tests: a 12-byte frame
// with a good header, length and check word gives its code and parameter.
struct DecodedCommand
{
    uchar code = 0;
    quint16 parameter = 0; // bytes 5-6, high byte first
};
std::optional<DecodedCommand> decodeCommandFrame(const uchar *data, qsizetype size);
