#pragma once

#include "protocol/recordfield.h"
#include "protocol/telemetryrecord.h"

#include <QString>

// Turns the fields of one row, CSV or JSON Lines alike, into a record, naming the first
// column that does not fit. The port is left to the caller, who keeps its text from row
// to row.
class RecordRowReader
{
public:
    explicit RecordRowReader(const RecordFields &fields) : fields(fields) {}

    bool read(TelemetryRecord *record);
    // "cell3_mV: "x" is not a whole number from 0 to 65535"
    QString error;
    int failedColumn = -1; // the column that error names

private:
    class NameCodes;

    RecordField field(int column) const { return fields[size_t(column)]; }
    bool fail(int column, const QString &expected);
    bool fail(int column, const char *expected) { return fail(column, QLatin1String(expected)); }
    template <typename T> T integer(int column);
    qint16 tenths(int column);
    void absent(int column);
    quint8 byName(int column, const NameCodes &codes);
    uint bqStatus();
    void version(Telemetry *t);
    void manufactureDate(Telemetry *t);

    const RecordFields &fields;
};
