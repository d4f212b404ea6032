#pragma once

#include "packfault.h"
#include "protocol/telemetry.h"

#include <QVector>
#include <QtGlobal>
#include <optional>

// What stays put on a board: its identity and the values it starts from. The
// defaults are a type 2 board of model 4 with 25R cells, made on 2021/3/9.
struct PackSettings
{
    TelemetryLayout layout = TelemetryLayout::Type2;
    quint8 model = 4;
    quint8 cellType = 2;
    quint8 versionMajor = 1;
    quint8 versionMinor = 6;
    quint8 systemState = 2; // SYS ON
    // Unset: the board reports DISCHARGE or CHARGE by the direction of the current.
    std::optional<quint8> bmsState;
    quint8 bqStatus = 0;
    quint8 protectionFlags = 0;
    quint16 manufactureDate = 0x5269;
    quint16 cycleCount = 12;
    int startSoc = 80;
    // A charger on the pack instead of the usual load: constant current, then a
    // taper to full, as in a charge run on the bench.
    bool charger = false;
    quint32 seed = 1;
    // Values driven out of range for a while; a later fault on the same value wins.
    QVector<PackFault> faults;
};
