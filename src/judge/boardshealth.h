#pragma once

#include "judge/cellhealthestimator.h"

#include <QPair>
#include <QStringList>
#include <QVector>
#include <vector>

// The cells' health of every board in one stream of records, each board with an
// estimator of its own: a recording that keldro-cli record made of several ports
// holds several packs, and one estimate of them all would mix their cells. The boards
// are told apart by port and kept in the order they first appear.
class BoardsHealth
{
public:
    explicit BoardsHealth(qint32 minStepMilliamps = CellHealthEstimator::DefaultMinStepMilliamps);

    void add(const TelemetryRecord &record);

    // Each board's estimate, named as keldro-cli health names them: source alone for
    // one board (or for none, with an estimate of no frames), source#PORT for several.
    QVector<QPair<QString, CellHealth>> results(const QString &source) const;

private:
    qint32 minStepMilliamps;
    QStringList ports;
    std::vector<CellHealthEstimator> estimators;
    int current = -1; // the board of the last record: recordings come in long runs of one
};
