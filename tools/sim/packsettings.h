#pragma once

#include "packfault.h"
#include "protocol/telemetry.h"

#include <QHash>
#include <QVector>
#include <QtGlobal>
#include <optional>

// A load switched between two currents, as a bench's electronic load does to find the
// cells' resistance: the first level for seconds, then the second, and so on.
struct LoadCycle
{
    double firstMilliamps = 0; // negative: discharge
    double secondMilliamps = 0;
    double seconds = 10;
};

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
    // The cells: their DC resistance and capacity, the same for all unless a cell (1-15)
    // has its own. A cell's capacity is a percentage of the pack's.
    double resistanceMilliohm = 2.0;
    QHash<int, double> cellResistanceMilliohm;
    double capacityAh = 50;
    QHash<int, double> cellCapacityPercent;
    // Instead of the random charge and discharge phases.
    std::optional<LoadCycle> load;
    // Values driven out of range for a while; a later fault on the same value wins.
    QVector<PackFault> faults;

    double resistanceOf(int cell) const
    {
        return cellResistanceMilliohm.value(cell, resistanceMilliohm);
    }
    double capacityOf(int cell) const
    {
        return capacityAh * cellCapacityPercent.value(cell, 100) / 100;
    }
};
