#pragma once

#include "protocol/commandframe.h"

#include <QByteArray>
#include <QVector>

// One 12-byte command frame found on the line.
struct ReceivedCommand
{
    bool checkWordMatches = false;
    DecodedCommand command; // valid only when checkWordMatches
};

// The board's receive side: bytes arrive in whatever pieces the line delivers,
// so they are buffered, and a frame is looked for at every FE EF 01 0C. A frame
// with a bad check word is reported and the search goes on from its second byte,
// so that a good frame hidden behind a truncated one is still found.
class CommandReader
{
public:
    QVector<ReceivedCommand> feed(const QByteArray &bytes);

private:
    QByteArray buffer;
};
