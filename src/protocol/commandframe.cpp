#include "protocol/commandframe.h"

#include "protocol/crc32words.h"

#include <QtEndian>

namespace {

constexpr uchar FrameType = 0x01;
constexpr uchar FrameLength = 12;
constexpr int CodeOffset = 4;
constexpr int ParameterOffset = 5;
constexpr int CheckOffset = 8;
constexpr int CheckedWords = CheckOffset / 4;

} // namespace

// Literal bytes, so they are constant-initialised and safe to use from other files'
// static initialisers; tst_commands holds them against frames built by the rule.
const CommandFrame pollFrame{0xFE, 0xEF, 0x01, 0x0C, 0x00, 0x00,
                             0x00, 0x00, 0x27, 0xC8, 0xE3, 0x65};
const CommandFrame powerOffFrame{0xFE, 0xEF, 0x01, 0x0C, 0xA5, 0x00,
                                 0x00, 0x00, 0x42, 0xF5, 0x09, 0x83};
const CommandFrame bootFrame{0xFE, 0xEF, 0x01, 0x0C, 0x8B, 0x00,
                             0x00, 0x00, 0xA8, 0xE3, 0xA4, 0x27};
const CommandFrame socCalibrationFrame{0xFE, 0xEF, 0x01, 0x0C, 0xE3, 0x00,
                                       0x00, 0x00, 0x87, 0xC8, 0x09, 0xAD};

CommandFrame buildCommandFrame(CommandCode code, quint16 parameter)
{
    CommandFrame frame{0xFE, 0xEF, FrameType, FrameLength, static_cast<uchar>(code)};
    qToBigEndian(parameter, frame.data() + ParameterOffset);
    qToLittleEndian(crc32Words(frame.data(), CheckedWords), frame.data() + CheckOffset);
    return frame;
}

quint16 packDate(int year, int month, int day)
{
    // Only the low 16 bits go on the wire. Unsigned arithmetic gives the same bits as
    // signed 32-bit arithmetic would, and stays defined for any year.
    const quint32 packed = ((quint32(year) - 1980u) * 16u + quint32(month)) * 32u + quint32(day);
    return quint16(packed & 0xFFFFu);
}

CommandFrame setManufactureDateFrame(int year, int month, int day)
{
    return buildCommandFrame(CommandCode::SetManufactureDate, packDate(year, month, day));
}

std::optional<DecodedCommand> decodeCommandFrame(const uchar *data, qsizetype size)
{
    if (size != FrameLength || data[0] != 0xFE || data[1] != 0xEF || data[2] != FrameType ||
        data[3] != FrameLength)
        return std::nullopt;
    if (qFromLittleEndian<quint32>(data + CheckOffset) != crc32Words(data, CheckedWords))
        return std::nullopt;
    return DecodedCommand{data[CodeOffset], qFromBigEndian<quint16>(data + ParameterOffset)};
}
