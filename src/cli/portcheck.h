#pragma once

#include "judge/checkrow.h"

#include <QVector>

// 1 when a row of some port is ERROR (no frame came, a link lost and not back), else 4
// when a row failed (an alarm raised, the frames stopped), else 0.
int checkExitStatus(const Limits &limits, const QVector<PortCheck> &checks);
