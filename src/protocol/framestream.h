#pragma once

#include "protocol/telemetry.h"

#include <QByteArray>
#include <QVector>

// What the board said, taken apart into telemetry frames and text by content.
struct StreamItem
{
    enum class Kind {
        Frame,    // a whole telemetry frame whose check word matched
        Text,     // bytes that are not part of a frame, for the receive log
        Rejected, // a frame with an unknown layout byte or a failed check word, or one
                  // that began and never ended: dropped, only counted
    };
    Kind kind = Kind::Text;
    Telemetry telemetry; // Frame only
    QByteArray bytes;    // the frame, the text or the dropped bytes
};

// Splits the bytes read from the serial line into frames and text, whatever pieces
// and pauses the line delivers them in. A frame is whole the moment its last byte
// arrives; text is whole when the line falls silent or a frame header follows it.
//
// The rule, applied to whatever has arrived and not yet been judged:
// - FE EF, a known layout byte and that layout's whole length with a matching check
//   word is a frame; what follows is judged again.
// - 0xFE never occurs in UTF-8 text, so FE EF inside text starts a frame; the text
//   before it is whole. A 0xFE at the end of what has arrived, and FE EF without its
//   layout byte yet, may be the start of a frame too and are never handed on as text.
// - A frame that has begun waits for its rest through pauses of up to MaxPauseMs:
//   USB serial bridges, Bluetooth links and loaded machines stall mid-frame. Only a
//   longer silence drops it.
// - A failed check word drops that frame's own bytes, the length its layout (or
//   its length byte) gives, or fewer if another header starts inside them (the
//   frame lost bytes on the line). An unknown layout byte gives no length: the
//   bytes up to the next header are dropped, but never more than the longest
//   frame, so text behind it is kept. The part of a rejected frame still to come
//   is dropped as it arrives, through pauses as a frame's would be. Either way,
//   what follows is judged afresh.
// Pure: the caller reads the port and tells how long the line has been silent.
class FrameStream
{
public:
    // Text that never falls silent is still handed on once this much has gathered,
    // at its last line end when it has one.
    static constexpr int MaxTextBytes = 4096;
    // The longest silence inside a frame after which it is still taken whole.
    static constexpr int MaxPauseMs = 1000;

    // Takes bytes as read from the line; returns what they completed, in order.
    QVector<StreamItem> feed(const QByteArray &bytes);
    // The line has been silent for silentMs: pending text is whole; a frame that has
    // begun is dropped once silentMs reaches MaxPauseMs, and waits until then.
    QVector<StreamItem> lineSilent(int silentMs);
    // Nothing more will come (the port closes, the input ends): what is pending is
    // judged as it stands.
    QVector<StreamItem> flush();
    // Forgets everything pending (the port was reopened).
    void reset();

    // Bytes received and not yet judged.
    int pendingSize() const { return int(pending.size()); }

private:
    void judge(QVector<StreamItem> &items);
    void reject(int extent, QVector<StreamItem> &items);
    bool dropRestOfRejected();
    QVector<StreamItem> settle(bool abandoned);

    QByteArray pending;
    int rejectedLeft = 0; // bytes of a rejected frame still to drop as they arrive
    // Where in pending a header may begin: text that arrives a byte at a time is not
    // searched again from its start for every byte.
    int headerFree = 0;
};
