#pragma once

#include "record/linefilewriter.h"
#include "record/recordformat.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// Writes a recording onto a device, whole rows only, through a LineFileWriter: rows
// gather in memory until flush(), a file that takes only part of them is cut back to
// its last whole row, and the rows are synced onto the disk every SyncIntervalMs and
// by sync().
class RecordWriter
{
public:
    static constexpr int SyncIntervalMs = LineFileWriter::SyncIntervalMs;

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
    int bufferedBytes() const { return lines.bufferedBytes(); }
    QString errorString() const { return lines.errorString(); }
    // The system's errno for the failure, 0 when there is none or the device is no file.
    int errorNumber() const { return lines.errorNumber(); }

private:
    void countWrittenRows();

    LineFileWriter lines;
    RecordFormat recordFormat;
    qint64 rowCount = 0;
    qint64 pendingRows = 0;
};
