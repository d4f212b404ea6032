#pragma once

#include "plot/customplot.h"

struct CellHealth;

// The cells' resistances side by side: a bar per cell at its median over the current
// steps, the spread of those steps (the interquartile range, centred on the median)
// as an error bar, the pack's median cell as a dashed line, and the weakest cell's bar
// in red. A cell nothing was measured for has no bar: a bar of 0 mΩ would read as a
// perfect cell.
class HealthPlot : public QCustomPlot
{
    Q_OBJECT

public:
    explicit HealthPlot(QWidget *parent = nullptr);

    // Null shows nothing: no frames yet.
    void showHealth(const CellHealth *health);

    // The weakest cell's bar; its sentence below the plot takes the same colour.
    static QColor weakestColour();

    QCPBars *cellBars() const { return bars; }
    QCPBars *weakestBar() const { return weakest; }

private:
    QCPBars *bars;
    QCPBars *weakest;
    QCPErrorBars *spread;
    QCPItemStraightLine *medianLine;
    QCPItemText *medianLabel;
    QCPItemText *emptyText;
};
