#pragma once

#include "judge/limits.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Reads a limits file, strictly: a typo must not switch a safety limit off. An unknown
// table or key, a value of the wrong type or out of range, a minimum above its maximum,
// a negative spread or hysteresis, an unknown name in fail_on and a TOML syntax error
// all fail the whole file, with one line naming the file, the line and the key:
//
//   limits.toml:4: cells.max_mv: unknown key; the keys of [cells] are min_mV, max_mV, max_spread_mV
//
// Keys in mV, mA and pct take integers only (4250.0 is refused: TOML tells the two
// apart, and a fraction of a millivolt is nothing the board reports); keys in C take
// floats and integers alike, and so do the keys of [health].
std::optional<Limits> readLimitsFile(const QString &path, QString *errorMessage);
// The same from the file's text; fileName only names it in messages.
std::optional<Limits> parseLimits(const QByteArray &toml, const QString &fileName,
                                  QString *errorMessage);
