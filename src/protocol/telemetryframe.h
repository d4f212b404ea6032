#pragma once

#include "protocol/telemetry.h"

#include <QByteArray>

// Frame layout constants shared by the receiver, the simulator and the tests.
namespace TelemetryFrame {
constexpr uchar Header0 = 0xFE;
constexpr uchar Header1 = 0xEF;
constexpr int Type1Size = 60;
constexpr int Type2Size = 72;
int sizeOf(TelemetryLayout layout);
} // namespace TelemetryFrame

// What a chunk from the port turns out to be.
enum class ChunkVerdict {
    NotAFrame, // does not start with FE EF: goes to the receive log as text
    Rejected,  // starts like a frame but fails layout, length or check: dropped silently
    Frame,     // exactly one good frame: decoded
};

struct ChunkResult
{
    ChunkVerdict verdict = ChunkVerdict::NotAFrame;
    Telemetry telemetry; // valid only when verdict == Frame
};

// Judges one chunk as a whole: only a chunk that is exactly one frame of the layout
// named by its byte 2, with a matching check word, is decoded. Never reads past
// the chunk's end.
ChunkResult judgeChunk(const QByteArray &chunk);
ChunkResult judgeChunk(const uchar *data, qsizetype size);

// Builds the frame the board would send for these values, check word included.
// Bytes that the receiver does not examine are written as zero except byte 3,
// which carries the frame length as the board fills it.
QByteArray encodeTelemetry(const Telemetry &telemetry);
