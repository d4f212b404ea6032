#include "window/health/healthplot.h"

#include "judge/cellhealth.h"

#include <algorithm>

namespace {

const QColor CellColour(0x1f, 0x77, 0xb4);
} // namespace

QColor HealthPlot::weakestColour()
{
    return QColor(0xd6, 0x27, 0x28);
}

HealthPlot::HealthPlot(QWidget *parent) : QCustomPlot(parent)
{
    setObjectName(QStringLiteral("healthPlot"));
    setMinimumSize(400, 180);

    QCPAxis *cells = xAxis;
    QCPAxis *resistance = yAxis;
    // The numbers under the bars are the cells': a label would only take height
    // from the bars.
    cells->grid()->setVisible(false);
    cells->setSubTicks(false);
    cells->setTickLength(0, 4);
    resistance->setLabel(tr("Resistance (mΩ)"));

    bars = new QCPBars(cells, resistance);
    bars->setName(tr("Resistance"));
    bars->setWidth(0.6);
    bars->setPen(QPen(CellColour.darker(130)));
    bars->setBrush(CellColour);
    // On top of the cell's own bar, in the same place: one bar has only one colour.
    weakest = new QCPBars(cells, resistance);
    weakest->setName(tr("Weakest cell"));
    weakest->setWidth(0.6);
    weakest->setPen(QPen(weakestColour().darker(130)));
    weakest->setBrush(weakestColour());
    spread = new QCPErrorBars(cells, resistance);
    spread->setName(tr("Interquartile range"));
    spread->setDataPlottable(bars);
    spread->setPen(QPen(Qt::black, 1.2));
    spread->setWhiskerWidth(8);

    medianLine = new QCPItemStraightLine(this);
    medianLine->setPen(QPen(QColor(0x40, 0x40, 0x40), 1, Qt::DashLine));
    medianLabel = new QCPItemText(this);
    medianLabel->setPositionAlignment(Qt::AlignRight | Qt::AlignBottom);
    medianLabel->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
    medianLabel->position->setTypeY(QCPItemPosition::ptPlotCoords);
    medianLabel->setColor(QColor(0x40, 0x40, 0x40));
    emptyText = new QCPItemText(this);
    emptyText->position->setType(QCPItemPosition::ptAxisRectRatio);
    emptyText->position->setCoords(0.5, 0.5);
    emptyText->setColor(QColor(0x60, 0x60, 0x60));
    showHealth(nullptr);
}

void HealthPlot::showHealth(const CellHealth *health)
{
    QVector<double> keys, values, errors;
    QVector<double> weakestKey, weakestValue;
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    double top = 0;
    const int weakestCell = health && health->weakest ? health->weakest->cell : -1;
    const int cellCount = health ? health->cells.size() : 0;
    for (int i = 0; i < cellCount; ++i) {
        const CellEstimate &cell = health->cells[i];
        ticker->addTick(cell.cell, QString::number(cell.cell));
        if (!cell.resistanceMilliohm)
            continue;
        // The error bar spans the interquartile range, centred on the median: the
        // quartiles themselves are not kept.
        const double half = cell.resistanceIqrMilliohm.value_or(0) / 2;
        keys << cell.cell;
        values << *cell.resistanceMilliohm;
        errors << half;
        top = std::max(top, *cell.resistanceMilliohm + half);
        if (cell.cell == weakestCell) {
            weakestKey << cell.cell;
            weakestValue << *cell.resistanceMilliohm;
        }
    }
    bars->setData(keys, values, true);
    weakest->setData(weakestKey, weakestValue, true);
    spread->setData(errors);
    xAxis->setTicker(ticker);
    xAxis->setRange(0.4, std::max(1, cellCount) + 0.6);
    yAxis->setRange(0, top > 0 ? top * 1.15 : 1);

    const bool any = !keys.isEmpty() && health->medianResistanceMilliohm;
    medianLine->setVisible(any);
    medianLabel->setVisible(any);
    if (any) {
        const double middle = *health->medianResistanceMilliohm;
        medianLine->point1->setCoords(0, middle);
        medianLine->point2->setCoords(1, middle);
        medianLabel->position->setCoords(0.99, middle);
        medianLabel->setText(tr("median %1 mΩ").arg(middle, 0, 'f', 2));
    }
    emptyText->setVisible(keys.isEmpty());
    emptyText->setText(!health || health->frames == 0 ? tr("No frames yet")
                       : health->resistanceMissing.isEmpty()
                           ? tr("No resistance measured")
                           : tr("No resistance measured: %1").arg(health->resistanceMissing));
    replot(QCustomPlot::rpQueuedReplot);
}
