#pragma once

#include "protocol/recordformat.h"

#include <QString>
#include <QStringList>
#include <optional>

class QIODevice;

// Reads what RecordWriter writes, CSV or JSON Lines, told apart by the first line.
// A line that does not hold a record ends the reading with an error that names the
// line by its number.
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
    bool readLine(QByteArray *line);
    bool readFirstLine(QByteArray *line);
    bool splitCsv(QByteArray line, QStringList *fields);
    bool splitJson(const QByteArray &line, QStringList *fields);
    bool fail(const QString &message);

    QIODevice *device;
    std::optional<RecordFormat> recordFormat;
    qint64 lineNumber = 0;
    QString error;
};
