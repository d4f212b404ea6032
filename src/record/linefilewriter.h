#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class QIODevice;

// Keeps a file of lines whole: a recording's rows, an events file, board text. Lines
// gather in memory until flush(), which hands them to the device in one write: a
// process killed between two flushes loses the lines since the last one and never
// leaves half a line behind. When a file takes only part of a write (a full disk, the
// size limit), it is cut back to the last whole line, so that it stays readable; the
// error then gives the system's reason. A flush() also makes a file's lines durable
// (fdatasync) once SyncIntervalMs have passed since the last time: with a flush once a
// second, as the recorders do, a line is on the disk within 10 s of arriving, which is
// what a power cut can cost.
//
// A file's lines go straight to its descriptor: nothing else may write through the
// same QFile while the writer has it.
class LineFileWriter
{
public:
    static constexpr int SyncIntervalMs = 9000;

    explicit LineFileWriter(QIODevice *device);

    // The lines waiting for flush(): append whole lines, line ends included.
    QByteArray &pending() { return buffer; }
    void append(const QByteArray &lines) { buffer += lines; }
    // Whether the device holds something already (a file appended to).
    bool holdsData() const;

    // False once a write has failed; errorString() then says why.
    bool flush();
    // flush(), then the lines onto the disk itself, at the end of a run.
    bool sync();

    int bufferedBytes() const { return int(buffer.size()); }
    QString errorString() const { return error; }
    // The system's errno for the failure, 0 when there is none or the device is no file.
    int errorNumber() const { return systemError; }

private:
    bool writePending();
    void fail(int errorNumber);
    int descriptor() const;

    QIODevice *device;
    QByteArray buffer;
    bool unsynced = false;
    QElapsedTimer sinceSync;
    QString error;
    int systemError = 0;
};
