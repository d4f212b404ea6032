#include "judge/cellhealth.h"

#include "record/recordformat.h"

#include <QJsonArray>
#include <QLocale>
#include <cmath>

namespace {

// To a number of decimals, so that the shortest text of the double is that many digits
// at most: 1.64, never 1.6400000000000001. No "-0" for a value that rounds to nothing.
QJsonValue rounded(const std::optional<double> &value, int decimals)
{
    if (!value)
        return QJsonValue(QJsonValue::Null);
    const double scale = std::pow(10.0, decimals);
    const double r = std::round(*value * scale) / scale;
    return QJsonValue(r == 0 ? 0.0 : r);
}

QJsonValue timeValue(const std::optional<qint64> &utcMs)
{
    if (!utcMs)
        return QJsonValue(QJsonValue::Null);
    QByteArray text;
    appendRecordTime(text, *utcMs);
    return QJsonValue(QString::fromLatin1(text));
}

QJsonValue intValue(const std::optional<int> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

const char *healthVerdictName(HealthVerdict verdict)
{
    switch (verdict) {
    case HealthVerdict::Ok:
        return "ok";
    case HealthVerdict::HighResistance:
        return "high resistance";
    case HealthVerdict::LowCapacity:
        return "low capacity";
    case HealthVerdict::Unknown:
        break;
    }
    return "unknown";
}

QString CellHealth::minStepText() const
{
    return QString::number(minStepMilliamps / 1000.0, 'g', QLocale::FloatingPointShortest) +
           QStringLiteral(" A");
}

QJsonObject cellHealthJson(const CellHealth &health, const QString &source)
{
    const PackEstimate &p = health.pack;
    const QJsonObject pack{
        {QStringLiteral("resistance_mOhm"), rounded(p.resistanceMilliohm, 2)},
        {QStringLiteral("charged_Ah"), rounded(p.chargedAh, 3)},
        {QStringLiteral("discharged_Ah"), rounded(p.dischargedAh, 3)},
        {QStringLiteral("charged_Wh"), rounded(p.chargedWh, 2)},
        {QStringLiteral("discharged_Wh"), rounded(p.dischargedWh, 2)},
        {QStringLiteral("capacity_Ah"), rounded(p.capacityAh, 3)},
        {QStringLiteral("soc_from"), intValue(p.socFrom)},
        {QStringLiteral("soc_to"), intValue(p.socTo)},
        {QStringLiteral("gaps"), p.gaps},
    };
    QJsonArray cells;
    for (const CellEstimate &c : health.cells)
        cells.append(QJsonObject{
            {QStringLiteral("cell"), c.cell},
            {QStringLiteral("resistance_mOhm"), rounded(c.resistanceMilliohm, 2)},
            {QStringLiteral("resistance_iqr_mOhm"), rounded(c.resistanceIqrMilliohm, 2)},
            {QStringLiteral("steps"), c.steps},
            {QStringLiteral("sag_mV"), rounded(c.sagMillivolts, 1)},
            {QStringLiteral("verdict"), QLatin1String(healthVerdictName(c.verdict))},
        });
    QJsonValue weakest(QJsonValue::Null);
    if (health.weakest)
        weakest = QJsonObject{{QStringLiteral("cell"), health.weakest->cell},
                              {QStringLiteral("why"), health.weakest->why}};
    return QJsonObject{
        {QStringLiteral("source"), source},
        {QStringLiteral("frames"), double(health.frames)},
        {QStringLiteral("from"), timeValue(health.fromMs)},
        {QStringLiteral("to"), timeValue(health.toMs)},
        {QStringLiteral("steps"), health.steps},
        {QStringLiteral("pack"), pack},
        {QStringLiteral("cells"), cells},
        {QStringLiteral("weakest"), weakest},
    };
}
