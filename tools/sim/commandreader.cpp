#include "commandreader.h"

namespace {
const QByteArray CommandHeader = QByteArrayLiteral("\xFE\xEF\x01\x0C");
constexpr int FrameSize = int(std::tuple_size<CommandFrame>::value);
} // namespace

QVector<ReceivedCommand> CommandReader::feed(const QByteArray &bytes)
{
    buffer += bytes;
    QVector<ReceivedCommand> found;
    for (;;) {
        const int start = buffer.indexOf(CommandHeader);
        if (start < 0) {
            // Keep a tail that may be the start of a header still arriving.
            buffer = buffer.right(CommandHeader.size() - 1);
            return found;
        }
        buffer.remove(0, start);
        if (buffer.size() < FrameSize)
            return found;

        ReceivedCommand received;
        const auto decoded =
            decodeCommandFrame(reinterpret_cast<const uchar *>(buffer.constData()), FrameSize);
        received.checkWordMatches = decoded.has_value();
        if (decoded)
            received.command = *decoded;
        buffer.remove(0, decoded ? FrameSize : 1);
        found.append(received);
    }
}
