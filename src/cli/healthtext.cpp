#include "healthtext.h"

#include "record/recordformat.h"

#include <QStringList>
#include <QVector>
#include <algorithm>

namespace {

QString timeText(qint64 utcMs)
{
    QByteArray text;
    appendRecordTime(text, utcMs);
    return QString::fromLatin1(text);
}

QString resistanceText(const std::optional<double> &median, const std::optional<double> &iqr)
{
    if (!median)
        return QStringLiteral("-");
    return QStringLiteral("%1 ± %2 mΩ")
        .arg(QString::number(*median, 'f', 2), QString::number(iqr.value_or(0), 'f', 2));
}

QString sagText(const std::optional<double> &sag)
{
    return sag ? QStringLiteral("%1 mV").arg(QString::number(*sag, 'f', 1)) : QStringLiteral("-");
}

QString table(const QVector<QStringList> &lines)
{
    QVector<int> widths(lines.constFirst().size(), 0);
    for (const QStringList &line : lines)
        for (int column = 0; column < line.size(); ++column)
            widths[column] = std::max(widths[column], int(line.at(column).size()));
    QString text;
    for (const QStringList &line : lines) {
        QString row;
        for (int column = 0; column < line.size(); ++column)
            row += column + 1 < line.size() ? line.at(column).leftJustified(widths[column] + 2)
                                            : line.at(column);
        text += row.trimmed() + QLatin1Char('\n');
    }
    return text;
}

} // namespace

QString healthText(const CellHealth &health, const QString &source)
{
    if (health.frames == 0)
        return QStringLiteral("%1: no frame\n").arg(source);
    QString text =
        QStringLiteral("%1: %2 frames from %3 to %4, %5 current step%6 of %7 or more\n\n")
            .arg(source)
            .arg(health.frames)
            .arg(timeText(*health.fromMs), timeText(*health.toMs))
            .arg(health.steps)
            .arg(health.steps == 1 ? QString() : QStringLiteral("s"))
            .arg(health.minStepText());

    QVector<QStringList> lines{{QStringLiteral("CELL"), QStringLiteral("RESISTANCE"),
                                QStringLiteral("STEPS"), QStringLiteral("SAG"),
                                QStringLiteral("VERDICT")}};
    for (const CellEstimate &cell : health.cells)
        lines.append({QString::number(cell.cell),
                      resistanceText(cell.resistanceMilliohm, cell.resistanceIqrMilliohm),
                      QString::number(cell.steps), sagText(cell.sagMillivolts),
                      QLatin1String(healthVerdictName(cell.verdict))});
    const PackEstimate &pack = health.pack;
    lines.append({QStringLiteral("pack"),
                  resistanceText(pack.resistanceMilliohm, pack.resistanceIqrMilliohm),
                  QString::number(health.steps), QString(), QString()});
    text += table(lines) + QLatin1Char('\n');

    text +=
        QStringLiteral("charged %1 Ah (%2 Wh), discharged %3 Ah (%4 Wh), SOC %5 % to %6 %, %7\n")
            .arg(QString::number(pack.chargedAh, 'f', 3), QString::number(pack.chargedWh, 'f', 2),
                 QString::number(pack.dischargedAh, 'f', 3),
                 QString::number(pack.dischargedWh, 'f', 2))
            .arg(pack.socFrom.value_or(0))
            .arg(pack.socTo.value_or(0))
            .arg(pack.gaps == 0 ? QStringLiteral("no gap")
                                : QStringLiteral("%1 gap%2 over 10 s not counted")
                                      .arg(pack.gaps)
                                      .arg(pack.gaps == 1 ? QString() : QStringLiteral("s")));
    if (pack.capacityAh)
        text += QStringLiteral("capacity: %1 Ah\n").arg(QString::number(*pack.capacityAh, 'f', 2));
    else
        text += QStringLiteral("capacity: not measured: %1\n").arg(health.capacityMissing);
    if (!health.resistanceMissing.isEmpty())
        text += QStringLiteral("resistance: not measured: %1\n").arg(health.resistanceMissing);
    if (!health.sagMissing.isEmpty())
        text += QStringLiteral("sag: not measured: %1\n").arg(health.sagMissing);

    if (health.weakest)
        text += QStringLiteral("weakest: %1\n").arg(health.weakest->why);
    else if (std::all_of(health.cells.cbegin(), health.cells.cend(),
                         [](const CellEstimate &c) { return c.verdict == HealthVerdict::Unknown; }))
        text += QStringLiteral("weakest: unknown, no cell could be measured\n");
    else
        text += QStringLiteral("weakest: none, every cell measured is ok\n");
    return text;
}
