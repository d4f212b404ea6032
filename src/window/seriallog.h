#pragma once

#include <QLoggingCategory>

// The window's debug lines about its serial line: every chunk read ("bytes.size: 72")
// and every change of port or rate. Off by default, ten lines a second being noise to
// anyone not debugging the link; QT_LOGGING_RULES="keldro.serial.debug=true" (or
// "keldro.*.debug=true") turns them on without a rebuild.
Q_DECLARE_LOGGING_CATEGORY(lcSerial)
