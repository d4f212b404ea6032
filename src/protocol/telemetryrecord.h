#pragma once

#include "protocol/telemetry.h"

#include <QMetaType>
#include <QString>

// One accepted telemetry frame as recordings keep it: when it arrived and from where.
struct TelemetryRecord
{
    qint64 timeMs = 0; // UTC, milliseconds since the epoch: when the frame's last byte was read
    QString port;      // the port's name as the tool lists it ("ttyUSB0")
    Telemetry telemetry;
};

Q_DECLARE_METATYPE(TelemetryRecord)
