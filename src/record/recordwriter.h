#pragma once

#include "record/recordformat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class QIODevice;

// Writes a recording onto a device, whole rows only. Rows gather in memory until
// flush(), which hands them to the device in one write: a process killed between two
// flushes loses the rows since the last one and never leaves half a row behind. When
// a file takes only part of a write (a full disk, the size limit), it is cut back to
// the last whole row, so that it stays readable; the error then gives the system's
// reason. A flush() also makes a file's rows durable (fdatasync) once SyncIntervalMs
// have passed since the last time: with a flush once a second, as the recorders do,
// a row is on the disk within 10 s of arriving, which is what a power cut can cost.
//
// A file's rows go straight to its descriptor: nothing else may write through the
// same QFile while the writer has it.
class RecordWriter
{
public:
    static constexpr int SyncIntervalMs = 9000;

    RecordWriter(QIODevice *device, RecordFormat format);

    RecordFormat format() const { return recordFormat; }

    // The CSV header row; JSON Lines has none. Call once, before the first row. A file
    // that already holds something (standard output appended to with ">>") gets none:
    // its rows go on below the header it has.
    void writeHeader();
    void write(const TelemetryRecord &record);
    // False once a write has failed; errorString() then says why.
    bool flush();
    // flush(), then the rows onto the disk itself, at the end of a run.
    bool sync();

    // Rows the device has taken, and rows waiting for the next flush().
    qint64 rowsWritten() const { return rowCount; }
    qint64 rowsPending() const { return pendingRows; }
    int bufferedBytes() const { return int(pending.size()); }
    QString errorString() const { return error; }
    // The system's errno for the failure, 0 when there is none or the device is no file.
    int errorNumber() const { return systemError; }

private:
    bool writePending();
    void fail(int errorNumber);
    int descriptor() const;

    QIODevice *device;
    RecordFormat recordFormat;
    QByteArray pending;
    qint64 rowCount = 0;
    qint64 pendingRows = 0;
    bool unsynced = false;
    QElapsedTimer sinceSync;
    QString error;
    int systemError = 0;
};
