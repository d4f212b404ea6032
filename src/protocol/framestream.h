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
        Rejected, // a header with an unknown layout byte or a failed check word, or the
                  // start of a frame that silence cut short: dropped, only counted
    };
    Kind kind = Kind::Text;
    Telemetry telemetry; // Frame only
    QByteArray bytes;    // the frame, the text or the dropped bytes
};

// Splits the bytes read from the serial line into frames and text, whatever pieces
// the line delivers them in. A frame is whole the moment its last byte arrives;
// text is whole when the line falls silent or a frame header follows it.
//
// The rule, applied to whatever has arrived and not yet been judged:
// - FE EF, a known layout byte and that layout's whole length with a matching check
//   word is a frame; what follows is judged again.
// - 0xFE never occurs in UTF-8 text, so FE EF inside text starts a frame; the text
//   before it is whole.
// - FE EF with an unknown layout byte or a failed check word: the bytes up to the
//   next FE EF are dropped.
// - The start of a frame waits for the rest; if silence comes first it is dropped.
// Pure: the caller reads the port and tells when the line fell silent.
class FrameStream
{
public:
    // Text that never falls silent is still handed on once this much has gathered,
    // at its last line end when it has one.
    static constexpr int MaxTextBytes = 4096;

    // Takes bytes as read from the line; returns what they completed, in order.
    QVector<StreamItem> feed(const QByteArray &bytes);
    // The line fell silent: pending text is whole, a frame cut short is dropped.
    QVector<StreamItem> endOfBurst();
    // Forgets everything pending (the port was closed or reopened).
    void reset();

    // Bytes received and not yet judged.
    int pendingSize() const { return int(pending.size()); }

private:
    void judge(QVector<StreamItem> &items);

    QByteArray pending;
    bool discarding = false; // inside the bytes after a rejected header
};
