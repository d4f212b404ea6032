#include "judge/boardshealth.h"

#include "protocol/telemetryrecord.h"

BoardsHealth::BoardsHealth(qint32 minStepMilliamps) : minStepMilliamps(minStepMilliamps) {}

void BoardsHealth::add(const TelemetryRecord &record)
{
    if (current < 0 || record.port != ports.at(current)) {
        current = int(ports.indexOf(record.port));
        if (current < 0) {
            current = int(ports.size());
            ports.append(record.port);
            estimators.emplace_back(minStepMilliamps);
        }
    }
    estimators[size_t(current)].add(record);
}

QVector<QPair<QString, CellHealth>> BoardsHealth::results(const QString &source) const
{
    QVector<QPair<QString, CellHealth>> named;
    if (ports.isEmpty())
        named.append({source, CellHealthEstimator(minStepMilliamps).result()});
    for (int i = 0; i < ports.size(); ++i)
        named.append({ports.size() == 1 ? source : source + QLatin1Char('#') + ports.at(i),
                      estimators[size_t(i)].result()});
    return named;
}
