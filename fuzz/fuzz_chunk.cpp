// Whatever arrives on the serial line goes through FrameStream and judgeChunk, so
// every byte string must be judged without reading past its end, in whatever pieces
// it comes, and every accepted frame must render. Accepted frames must also survive
// encoding again unchanged, and command frames must rebuild byte for byte.
#include "protocol/boardtext.h"
#include "protocol/commandframe.h"
#include "protocol/displaytext.h"
#include "protocol/framestream.h"
#include "protocol/telemetryframe.h"

#include <QByteArrayList>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void checkTelemetry(const uchar *data, size_t size)
{
    // The pointer straight from libFuzzer: its buffer ends exactly at size, so any
    // read past the chunk trips AddressSanitizer.
    const ChunkResult result = judgeChunk(data, qsizetype(size));
    if (result.verdict != ChunkVerdict::Frame)
        return;

    // Every byte value has a text; an empty one would leave a field blank.
    const TelemetryTexts texts = renderTelemetry(result.telemetry);
    if (texts.cells[0].isEmpty() || texts.systemState.isEmpty() || texts.model.isEmpty())
        abort();

    const QByteArray again = encodeTelemetry(result.telemetry);
    const ChunkResult reread = judgeChunk(again);
    if (reread.verdict != ChunkVerdict::Frame || encodeTelemetry(reread.telemetry) != again)
        abort();
}

void checkCommand(const uchar *data, size_t size)
{
    const auto decoded = decodeCommandFrame(data, qsizetype(size));
    if (!decoded || data[7] != 0)
        return;
    const CommandFrame rebuilt = buildCommandFrame(CommandCode(decoded->code), decoded->parameter);
    if (std::memcmp(rebuilt.data(), data, rebuilt.size()) != 0)
        abort();
}

// A text converts to UTF-8 and back as itself when every surrogate in it is one of a
// pair: checked in place, without the two conversions.
bool convertsToUtf8(const QString &text)
{
    const QChar *c = text.constData();
    const QChar *const end = c + text.size();
    for (; c != end; ++c) {
        if (c->isHighSurrogate() && c + 1 != end && c[1].isLowSurrogate())
            ++c;
        else if (c->isSurrogate())
            return false;
    }
    return true;
}

// Small pieces cost a call each; this many of them, wherever the input puts them,
// reach every way a piece can end inside a frame, a header or a character.
constexpr size_t SmallPieces = 48;

// The frames taken out of a byte string do not depend on the pieces the line
// delivers it in, nor on pauses shorter than a frame may take between them; every
// frame is one judgeChunk accepts; text never holds a frame header and always
// shows as valid UTF-8. The line delivers everything up to smallFrom in one piece,
// then SmallPieces pieces of pieceSize bytes, then the rest in one piece.
QByteArrayList framesOf(const uchar *data, size_t size, size_t smallFrom, size_t pieceSize,
                        bool pauses)
{
    FrameStream stream;
    QByteArrayList frames;
    qsizetype total = 0;
    const auto take = [&](const QVector<StreamItem> &items) {
        for (const StreamItem &item : items) {
            total += item.bytes.size();
            if (item.kind == StreamItem::Kind::Frame) {
                if (judgeChunk(item.bytes).verdict != ChunkVerdict::Frame)
                    abort();
                frames << item.bytes;
            } else if (item.kind == StreamItem::Kind::Text) {
                if (item.bytes.contains("\xFE\xEF"))
                    abort();
                if (!convertsToUtf8(boardText(item.bytes)))
                    abort();
            }
        }
    };
    size_t pieces = 0;
    for (size_t at = 0; at < size;) {
        size_t n = size - at;
        if (at < smallFrom) {
            n = smallFrom - at;
        } else if (pieces < SmallPieces) {
            n = std::min(pieceSize, n);
            ++pieces;
        }
        take(stream.feed(
            QByteArray::fromRawData(reinterpret_cast<const char *>(data + at), int(n))));
        if (pauses)
            take(stream.lineSilent(FrameStream::MaxPauseMs - 1));
        at += n;
    }
    take(stream.flush());
    if (total > qsizetype(size) || stream.pendingSize() != 0)
        abort();
    return frames;
}

void checkStream(const uchar *data, size_t size)
{
    if (size == 0)
        return;
    const size_t pieceSize = size_t(data[size - 1] % 17) + 1;
    const bool pauses = data[0] & 1;
    const size_t smallFrom = size >= 2 ? size * data[size - 2] / 256 : 0;
    if (framesOf(data, size, size, size, false) !=
        framesOf(data, size, smallFrom, pieceSize, pauses))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkTelemetry(data, size);
    checkCommand(data, size);
    checkStream(data, size);
    return 0;
}
