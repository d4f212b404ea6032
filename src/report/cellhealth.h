#pragma once

#include <QJsonObject>
#include <QString>

class BoardSession;

// The session's cell health as `keldro-cli health --format json` gives it: per-cell
// resistance, sag and verdict, the pack's counted charge and the weakest cell. Empty,
// with the reason in *missing, when there is none.
QJsonObject cellHealth(const BoardSession &session, QString *missing);
