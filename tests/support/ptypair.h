#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for the board: the tool opens the slave by
// its path, the test writes the board's bytes to the master and reads back what
// the tool sent.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return masterFd >= 0; }
    // The board's end, for a writer in another process.
    int masterDescriptor() const { return masterFd; }
    QString slavePath() const { return path; }

    // Writes all of bytes to the master; false on a short or failed write.
    bool write(const QByteArray &bytes);
    // Writes bytes in pieces of pieceSize with pauseMs of silence between them.
    bool writeInPieces(const QByteArray &bytes, int pieceSize, int pauseMs);
    // What the tool has written so far, waiting up to timeoutMs for at least
    // minBytes to arrive while the Qt event loop runs.
    QByteArray read(int minBytes = 1, int timeoutMs = 1000);
    // Closes the master: the slave's device node disappears, as a USB adapter's
    // does when it is unplugged, and its path stays unused until the pair is
    // destroyed.
    void closeMaster();
    // The output speed the tool last set on the slave, custom rates included.
    int slaveBaudRate() const;

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString path;
};
