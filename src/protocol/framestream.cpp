#include "protocol/framestream.h"

#include "protocol/telemetryframe.h"

namespace {

constexpr int SelectorOffset = 2;

const QByteArray &header()
{
    static const QByteArray bytes{"\xFE\xEF", 2};
    return bytes;
}

// The length a frame with this layout byte has, or 0 for a byte no layout uses.
int frameSizeFor(uchar selector)
{
    switch (TelemetryLayout(selector)) {
    case TelemetryLayout::Type1:
        return TelemetryFrame::Type1Size;
    case TelemetryLayout::Type2:
        return TelemetryFrame::Type2Size;
    }
    return 0;
}

StreamItem item(StreamItem::Kind kind, QByteArray bytes)
{
    StreamItem it;
    it.kind = kind;
    it.bytes = std::move(bytes);
    return it;
}

} // namespace

QVector<StreamItem> FrameStream::feed(const QByteArray &bytes)
{
    pending.append(bytes);
    QVector<StreamItem> items;
    judge(items);
    return items;
}

QVector<StreamItem> FrameStream::endOfBurst()
{
    QVector<StreamItem> items;
    // After judge() what is pending is text, the rest of a rejected frame (already
    // counted), or the start of a frame that silence has cut short.
    if (!pending.isEmpty() && !discarding) {
        const bool cutShort = pending.startsWith(header());
        items.append(item(cutShort ? StreamItem::Kind::Rejected : StreamItem::Kind::Text, pending));
    }
    reset();
    return items;
}

void FrameStream::reset()
{
    pending.clear();
    discarding = false;
}

void FrameStream::judge(QVector<StreamItem> &items)
{
    for (;;) {
        int next = int(pending.indexOf(header()));
        if (discarding) {
            if (next < 0) {
                // A 0xFE at the end may begin the next header.
                pending.remove(0, pending.size() - (pending.endsWith('\xFE') ? 1 : 0));
                return;
            }
            pending.remove(0, next);
            discarding = false;
            next = 0;
        }
        if (next < 0) {
            // Text goes on at silence, or once it grows long on a line that never
            // falls silent, at its last line end where it has one.
            if (pending.size() >= MaxTextBytes) {
                int end = int(pending.lastIndexOf('\n')) + 1;
                if (end == 0)
                    end = int(pending.size()) - (pending.endsWith('\xFE') ? 1 : 0);
                items.append(item(StreamItem::Kind::Text, pending.left(end)));
                pending.remove(0, end);
            }
            return;
        }
        if (next > 0) {
            items.append(item(StreamItem::Kind::Text, pending.left(next)));
            pending.remove(0, next);
        }

        if (pending.size() <= SelectorOffset)
            return;
        const int size = frameSizeFor(uchar(pending.at(SelectorOffset)));
        if (size > 0) {
            if (pending.size() < size)
                return;
            const ChunkResult result =
                judgeChunk(reinterpret_cast<const uchar *>(pending.constData()), size);
            if (result.verdict == ChunkVerdict::Frame) {
                StreamItem frame = item(StreamItem::Kind::Frame, pending.left(size));
                frame.telemetry = result.telemetry;
                items.append(frame);
                pending.remove(0, size);
                continue;
            }
        }
        // An unknown layout byte or a failed check word: the frame may have lost or
        // gained bytes on the line, so judging starts again at the next header, even
        // one inside it. Until that header arrives, whatever comes is dropped too.
        const int after = int(pending.indexOf(header(), header().size()));
        int end = after;
        if (after < 0)
            end = int(pending.size()) - (pending.endsWith('\xFE') ? 1 : 0);
        items.append(item(StreamItem::Kind::Rejected, pending.left(end)));
        pending.remove(0, end);
        discarding = after < 0;
    }
}
