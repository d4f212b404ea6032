#include "protocol/cellbalance.h"

#include <QtGlobal>

CellBalance cellBalance(const Telemetry &telemetry)
{
    CellBalance balance;
    const int count = qBound(0, telemetry.cellCount, Telemetry::MaxCells);
    for (int cell = 0; cell < count; ++cell) {
        const quint16 mv = telemetry.cellMillivolts[size_t(cell)];
        if (balance.lowestCell < 0 || mv < balance.lowestMillivolts) {
            balance.lowestCell = cell;
            balance.lowestMillivolts = mv;
        }
        if (balance.highestCell < 0 || mv > balance.highestMillivolts) {
            balance.highestCell = cell;
            balance.highestMillivolts = mv;
        }
    }
    return balance;
}
