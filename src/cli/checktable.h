#pragma once

#include "portcheck.h"

#include <QByteArray>

// The table `keldro-cli check` ends with, on standard output: for each port every limit
// the file sets, the protection flags and the link, the worst value seen and where, how
// often the alarm was raised (the frames stopped, for the link), and PASS, FAIL, ERROR
// (no frame came, the link lost and not back) or n/a (the layout carries no such value);
// then a verdict per port.
//
//   PORT     CHECK         LIMIT  WORST  AT     RAISED  RESULT
//   ttyUSB0  cells.max_mV  4250   4262   cell7  1       FAIL
//   ttyUSB0  protection    all    none   -      0       PASS
//   ttyUSB0  link          3      0.1    -      0       PASS
//
//   ttyUSB0: FAIL, 1 alarm raised in 6000 frames: cells.max_mV
QByteArray checkTable(const Limits &limits, const QVector<PortCheck> &checks);
