#include "record/recordwriter.h"

namespace {
// Room for one row of either format with a long port name; a recorder flushes once a
// second, so the buffer rarely grows past a few hundred rows.
constexpr int RowReserve = 1024;
} // namespace

RecordWriter::RecordWriter(QIODevice *device, RecordFormat format)
    : lines(device), recordFormat(format)
{
    lines.pending().reserve(64 * RowReserve);
}

void RecordWriter::writeHeader()
{
    if (recordFormat == RecordFormat::Csv && !lines.holdsData())
        lines.append(csvHeaderRow());
}

void RecordWriter::write(const TelemetryRecord &record)
{
    QByteArray &pending = lines.pending();
    if (pending.capacity() - pending.size() < RowReserve)
        pending.reserve(2 * pending.capacity() + RowReserve);
    appendRecordRow(pending, record, recordFormat);
    ++pendingRows;
}

bool RecordWriter::flush()
{
    const bool written = lines.flush();
    countWrittenRows();
    return written;
}

bool RecordWriter::sync()
{
    const bool written = lines.sync();
    countWrittenRows();
    return written;
}

void RecordWriter::countWrittenRows()
{
    if (lines.bufferedBytes() > 0)
        return;
    rowCount += pendingRows;
    pendingRows = 0;
}
