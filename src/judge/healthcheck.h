#pragma once

#include "judge/cellhealth.h"
#include "judge/checkrow.h"
#include "judge/limits.h"

// The rows of a check's [health] limits, judged once on what all of a port's frames gave:
// one per key the file sets, in the order max_resistance_mOhm, max_resistance_ratio,
// min_capacity_Ah. A value beyond its limit fails the row (RAISED counts the cells beyond
// it); one that could not be measured makes it an ERROR with the reason.
//
//   ttyUSB0  health.max_resistance_mOhm  3   5.72  cell7  1  FAIL
//   ttyUSB0  health.min_capacity_Ah      45  -     -      0  ERROR
QVector<CheckRow> healthCheckRows(const HealthLimits &limits, const CellHealth &health,
                                  const QString &port);
