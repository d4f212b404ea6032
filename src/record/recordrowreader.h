#pragma once

#include "protocol/telemetryrecord.h"
#include "record/recordfield.h"

#include <QString>

struct RecordRowError
{
    QString message; // "cell3_mV: "x" is not a whole number from 0 to 65535"
    int column = -1; // the first column that does not fit
};

// Turns the fields of one row, CSV or JSON Lines alike, into a record, or names the first
// column that does not fit. The port is left to the caller, who keeps its text from row
// to row.
bool readRecordRow(const RecordFields &fields, TelemetryRecord *record, RecordRowError *error);
