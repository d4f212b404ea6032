#pragma once

#include "protocol/recordformat.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

class QIODevice;

// Reads what RecordWriter writes, CSV or JSON Lines, told apart by the first line.
// A line that does not hold a record ends the reading with an error that names the
// line by its number.
//
// The device is read in large blocks, beyond the record last returned.
class RecordReader
{
public:
    explicit RecordReader(QIODevice *device);

    // The next record; false at the end of the data or at a malformed line.
    bool next(TelemetryRecord *record);

    bool hasError() const { return !error.isEmpty(); }
    // "line 7: cell3_mV: "x" is not a whole number from 0 to 65535"
    QString errorString() const { return error; }
    // Known once the first line has been read.
    std::optional<RecordFormat> format() const { return recordFormat; }

private:
    struct Line
    {
        char *data;
        qsizetype size;
    };
    struct Fields;

    bool readLine(Line *line);
    bool readBlock();
    bool readFirstLine(Line *line);
    bool splitCsv(Line line, Fields *fields);
    bool splitJson(Line line, Fields *fields);
    bool splitJsonDocument(Line line, Fields *fields);
    const QString &portText(const char *data, qsizetype size);
    bool fail(const QString &message);

    QIODevice *device;
    QByteArray buffer;       // blocks from the device; lines are read out of it in place
    qsizetype lineStart = 0; // the first byte not yet returned as a line
    qsizetype searched = 0;  // bytes from lineStart on that hold no line end
    QByteArray joinedLines;  // a CSV row whose quoted field holds line breaks
    QByteArray unescaped;    // JSON strings with their escapes undone
    std::array<qint8, RecordColumns::Count> jsonKeyOrder; // the last JSON line's keys
    QByteArray lastPortBytes; // a recording names the same port row after row
    QString lastPort;
    std::optional<RecordFormat> recordFormat;
    qint64 lineNumber = 0;
    QString error;
};
