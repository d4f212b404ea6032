#pragma once

#include "protocol/recordformat.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// Writes a recording onto a device, whole rows only. Rows gather in memory until
// flush(), which hands them to the device in one write: a process killed between two
// flushes loses the rows since the last one and never leaves half a row behind. When
// the device refuses part of a write (a full disk) and is a file, the file is cut back
// to the last whole row, so that it stays readable.
class RecordWriter
{
public:
    RecordWriter(QIODevice *device, RecordFormat format);

    RecordFormat format() const { return recordFormat; }

    // The CSV header row; JSON Lines has none. Call once, before the first row.
    void writeHeader();
    void write(const TelemetryRecord &record);
    // False once a write has failed; errorString() then says why.
    bool flush();

    // Rows the device has taken, and rows waiting for the next flush().
    qint64 rowsWritten() const { return rowCount; }
    qint64 rowsPending() const { return pendingRows; }
    int bufferedBytes() const { return int(pending.size()); }
    QString errorString() const { return error; }

private:
    QIODevice *device;
    RecordFormat recordFormat;
    QByteArray pending;
    qint64 rowCount = 0;
    qint64 pendingRows = 0;
    QString error;
};
