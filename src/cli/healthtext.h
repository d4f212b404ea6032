#pragma once

#include "judge/cellhealth.h"

#include <QString>

// What keldro-cli health prints for one source, for a person: a line on the data, the
// table of cells (resistance ± IQR, steps, sag, verdict), the pack's line, the counted
// charge, why any value is missing, and the weakest cell last.
//
//   night.csv: 600 frames from 2026-12-07T16:58:04.000Z to …, 59 current steps of 2 A or more
//
//   CELL  RESISTANCE      STEPS  SAG       VERDICT
//   1     2.12 ± 0.04 mΩ  59     -1.2 mV   ok
//   7     5.72 ± 0.08 mΩ  59     -0.4 mV   high resistance
//   pack  45.22 ± 0.3 mΩ  59
//
//   charged 0.000 Ah (0.00 Wh), discharged 2.915 Ah (168.11 Wh), SOC 80 % to 74 %, no gap
//   capacity: not measured: the SOC moved 6 points in the time counted; 20 are needed
//   weakest: cell 7: 5.7 mΩ against a median of 2.1 mΩ over 59 steps
QString healthText(const CellHealth &health, const QString &source);
