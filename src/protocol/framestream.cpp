#include "protocol/framestream.h"

#include "protocol/telemetryframe.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int SelectorOffset = 2;
constexpr int LengthOffset = 3;
constexpr int LongestFrame = std::max(TelemetryFrame::Type1Size, TelemetryFrame::Type2Size);

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

// The board writes a frame's length into its byte 3, which the check word covers but
// nothing else reads. When a damaged frame's layout byte and length byte disagree,
// either may be the damaged one: the longer length is taken, so that a type 2 frame
// whose layout byte was hit does not leave its tail to be read as text.
int frameSizeTold(uchar lengthByte)
{
    return lengthByte == TelemetryFrame::Type1Size || lengthByte == TelemetryFrame::Type2Size
               ? lengthByte
               : 0;
}

// Where text that has to be cut before its end can be cut without splitting a UTF-8
// character: at end, or before a lead byte whose sequence runs past it. A 0xFE at
// the end, which may begin a frame header, stays behind the same way.
int wholeCharacters(const QByteArray &text, int end)
{
    for (int i = end - 1; i >= 0 && i >= end - 4; --i) {
        const uchar c = uchar(text.at(i));
        if ((c & 0xC0) == 0x80)
            continue;
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return i + length > end ? i : end;
    }
    return end;
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

QVector<StreamItem> FrameStream::lineSilent(int silentMs)
{
    return settle(silentMs >= MaxPauseMs);
}

QVector<StreamItem> FrameStream::flush()
{
    return settle(true);
}

void FrameStream::reset()
{
    pending.clear();
    rejectedLeft = 0;
    headerFree = 0;
}

QVector<StreamItem> FrameStream::settle(bool abandoned)
{
    // After judge() what is pending is text, perhaps ending in a 0xFE; a frame that
    // has begun; or, inside a rejected frame, at most a 0xFE that may start the next
    // header.
    QVector<StreamItem> items;
    headerFree = 0;
    if (rejectedLeft > 0) {
        if (abandoned)
            reset();
        return items;
    }
    if (pending.startsWith(header())) {
        if (abandoned) {
            items.append(item(StreamItem::Kind::Rejected, pending));
            pending.clear();
        }
        return items;
    }
    if (!pending.endsWith('\xFE')) {
        if (!pending.isEmpty())
            items.append(item(StreamItem::Kind::Text, std::exchange(pending, QByteArray())));
        return items;
    }
    if (pending.size() > 1) {
        items.append(item(StreamItem::Kind::Text, pending.left(pending.size() - 1)));
        pending.remove(0, pending.size() - 1);
    }
    if (abandoned && !pending.isEmpty()) {
        items.append(item(StreamItem::Kind::Rejected, pending));
        pending.clear();
    }
    return items;
}

void FrameStream::judge(QVector<StreamItem> &items)
{
    for (;;) {
        if (rejectedLeft > 0 && !dropRestOfRejected())
            return;
        const int next = int(pending.indexOf(header(), headerFree));
        if (next < 0) {
            // Text goes on at silence, or once it grows long on a line that never
            // falls silent, at its last line end where it has one.
            if (pending.size() >= MaxTextBytes) {
                int end = int(pending.lastIndexOf('\n')) + 1;
                if (end == 0)
                    end = wholeCharacters(pending, int(pending.size()));
                items.append(item(StreamItem::Kind::Text, pending.left(end)));
                pending.remove(0, end);
            }
            // A header may yet begin with the last byte.
            headerFree = std::max(0, int(pending.size()) - 1);
            return;
        }
        headerFree = 0;
        if (next > 0) {
            items.append(item(StreamItem::Kind::Text, pending.left(next)));
            pending.remove(0, next);
        }

        if (pending.size() <= SelectorOffset)
            return;
        const int size = frameSizeFor(uchar(pending.at(SelectorOffset)));
        if (size == 0) {
            reject(LongestFrame, items);
            continue;
        }
        if (pending.size() < size)
            return;
        const ChunkResult result =
            judgeChunk(reinterpret_cast<const uchar *>(pending.constData()), size);
        if (result.verdict != ChunkVerdict::Frame) {
            reject(std::max(size, frameSizeTold(uchar(pending.at(LengthOffset)))), items);
            continue;
        }
        StreamItem frame = item(StreamItem::Kind::Frame, pending.left(size));
        frame.telemetry = result.telemetry;
        items.append(frame);
        pending.remove(0, size);
    }
}

// Drops the frame at the start of pending, extent bytes long as far as its layout
// tells, up to the next header inside it: a frame that lost bytes on the line is
// followed that much sooner by the next one. Bytes of it still to come are dropped
// as they arrive.
void FrameStream::reject(int extent, QVector<StreamItem> &items)
{
    int end = int(pending.indexOf(header(), SelectorOffset));
    if (end < 0 || end > extent)
        end = extent;
    int taken = std::min(end, int(pending.size()));
    // A 0xFE that ends what has arrived may begin the next header.
    if (taken == pending.size() && pending.endsWith('\xFE'))
        --taken;
    items.append(item(StreamItem::Kind::Rejected, pending.left(taken)));
    pending.remove(0, taken);
    headerFree = 0;
    rejectedLeft = end - taken;
}

// Returns true once the rejected frame is behind, false while more of it may come.
bool FrameStream::dropRestOfRejected()
{
    headerFree = 0;
    const int next = int(pending.indexOf(header()));
    if (next >= 0 && next < rejectedLeft) {
        pending.remove(0, next);
        rejectedLeft = 0;
        return true;
    }
    int dropped = std::min(rejectedLeft, int(pending.size()));
    if (dropped == pending.size() && pending.endsWith('\xFE'))
        --dropped;
    pending.remove(0, dropped);
    rejectedLeft -= dropped;
    return rejectedLeft == 0;
}
