#include "protocol/recordwriter.h"

#include <QFileDevice>
#include <cerrno>

namespace {
// Room for one row of either format with a long port name; a recorder flushes once a
// second, so the buffer rarely grows past a few hundred rows.
constexpr int RowReserve = 1024;
} // namespace

RecordWriter::RecordWriter(QIODevice *device, RecordFormat format)
    : device(device), recordFormat(format)
{
    pending.reserve(64 * RowReserve);
}

void RecordWriter::writeHeader()
{
    if (recordFormat == RecordFormat::Csv)
        pending.append(csvHeaderRow());
}

void RecordWriter::write(const TelemetryRecord &record)
{
    if (pending.capacity() - pending.size() < RowReserve)
        pending.reserve(2 * pending.capacity() + RowReserve);
    appendRecordRow(pending, record, recordFormat);
    ++pendingRows;
}

bool RecordWriter::flush()
{
    if (!error.isEmpty())
        return false;
    if (pending.isEmpty())
        return true;
    auto *file = qobject_cast<QFileDevice *>(device);
    const qint64 wholeRowsEnd = file && !file->isSequential() ? file->pos() : -1;
    errno = 0;
    const qint64 written = device->write(pending);
    if (file && written == pending.size() && !file->flush())
        error = file->errorString();
    else if (written != pending.size())
        // A write the disk took only part of leaves Qt without an error of its own; the
        // system's reason is in errno.
        error = errno ? qt_error_string(errno) : device->errorString();
    if (error.isEmpty()) {
        pending.resize(0);
        rowCount += pendingRows;
        pendingRows = 0;
        return true;
    }
    // Whatever the full disk took of the last write is cut off again, so that the
    // file ends with a whole row.
    if (wholeRowsEnd >= 0) {
        file->unsetError();
        file->resize(wholeRowsEnd);
        file->seek(wholeRowsEnd);
    }
    return false;
}
