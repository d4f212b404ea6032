#pragma once

#include "record/recordformat.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <atomic>
#include <optional>

class QIODevice;

// Reads what RecordWriter writes, CSV or JSON Lines, told apart by the first line.
// A line that does not hold a record ends the reading with an error that names the
// line by its number, and so do a line longer than 64 KiB, a stray quote in CSV and a
// read error of the device.
//
// The one exception is the last line when it is cut short: a killed recorder or a full
// disk leaves it without its line break, and after a power cut ext4 can leave a tail of
// NUL bytes in place of what never reached the disk. The rows before it are read, and
// the reading ends without an error, with lastLineCutShort() true.
//
// The device is read in blocks of 64 KiB, beyond the record last returned; memory stays
// within a few hundred KiB whatever the file holds.
class RecordReader
{
public:
    explicit RecordReader(QIODevice *device);

    // The next record; false at the end of the data, at a cut-short last line or at an
    // error.
    bool next(TelemetryRecord *record);

    bool hasError() const { return !error.isEmpty(); }
    // "line 7: cell3_mV: "x" is not a whole number from 0 to 65535"
    QString errorString() const { return error; }
    // Known once the first line has been read.
    std::optional<RecordFormat> format() const { return recordFormat; }

    // Once next() has returned false without an error: the data ended in a line that was
    // cut short, and what it kept of a row is left out (a whole row before a tail of NUL
    // bytes is read). recordsRead() tells how many records came before the end.
    bool lastLineCutShort() const { return cutShort; }
    // The records that next() has returned.
    qint64 recordsRead() const { return records; }

    // A reading on a thread of its own ends once *stop is true: it is looked at before
    // each block, however long the line or the run of NUL bytes it is in. next() then
    // returns false as at the end of the data, with stopped() true.
    void setStopFlag(const std::atomic<bool> *stop) { stopFlag = stop; }
    bool stopped() const { return isStopped; }

private:
    struct Line
    {
        char *data;
        qsizetype size;
    };
    struct Fields;

    bool readLine(Line *line);
    bool readBlock();
    qint64 readMore(qsizetype kept);
    bool readNulTail(Line *line);
    bool readFirstLine(Line *line);
    bool splitCsv(Line line, Fields *fields);
    bool followQuotes(Line *line, qint64 firstLine);
    bool splitJson(Line line, Fields *fields);
    bool splitJsonDocument(Line line, Fields *fields);
    const QString &portText(const char *data, qsizetype size);
    bool fail(const QString &message);
    bool failForGood(qint64 line, const QString &message);
    bool failReading();
    bool endCutShort();
    bool stopRequested();

    QIODevice *device;
    QByteArray buffer;       // blocks from the device; lines are read out of it in place
    qint64 blockSize;        // what the next read asks for
    qsizetype lineStart = 0; // the first byte not yet returned as a line
    qsizetype searched = 0;  // bytes from lineStart on that hold no line end
    bool lineEnded = false;  // the last line returned had its line break
    bool nulTail = false;    // ... or was followed by nothing but NUL bytes, which are dropped
    QByteArray joinedLines;  // a CSV row whose quoted field holds line breaks
    QByteArray unescaped;    // JSON strings with their escapes undone
    std::array<qint8, RecordColumns::Count> jsonKeyOrder; // the last JSON line's keys
    QByteArray lastPortBytes; // a recording names the same port row after row
    QString lastPort;
    std::optional<RecordFormat> recordFormat;
    qint64 lineNumber = 0;
    qint64 records = 0;
    bool cutShort = false;
    QString error;
    bool rowStopsEarly = false; // the row that did not read may be one that a cut shortened
    bool errorIsFinal = false;  // not to be taken for a cut-short last line
    const std::atomic<bool> *stopFlag = nullptr;
    bool isStopped = false;
};
