#pragma once

#include "plot/customplot.h"
#include "plot/trendstore.h"

#include <array>

// The trends' three plots on one time axis: cells; current with the state of charge;
// temperatures. A legend beside each, where a click hides or shows a line.
//
// The graphs hold only what is drawn. At every replot they are filled from the
// store with the points the time range shown needs at the plot's width (see
// TrendStore::select), so that a redraw costs what the screen holds, not what the
// session held.
class TrendsPlot : public QCustomPlot
{
    Q_OBJECT

public:
    explicit TrendsPlot(QWidget *parent = nullptr);

    // Draws from the store from the next replot on; nullptr draws nothing.
    void setStore(const TrendStore *store);
    // Gives the series the store has seen a legend entry: a 9-cell board shows no
    // cells 10-15 and no BAT_NTC3.
    void fillLegends();

    QCPGraph *seriesGraph(int series) const { return graphs[size_t(series)]; }
    QCPAxisRect *cellRect() const { return cells; }
    QCPAxisRect *currentRect() const { return current; }
    QCPAxisRect *temperatureRect() const { return temperatures; }
    // The cell plot's time axis: the other two move with it.
    QCPAxis *timeAxis() const;
    void setTimeRange(const QCPRange &range);
    // The finest store level the last replot drew (0: frames).
    int shownLevel() const { return drawnLevel; }

    bool isSeriesHidden(int series) const;
    void setSeriesHidden(int series, bool hidden);

    // A dashed line through the three plots at the time (seconds since the epoch).
    void showCursor(double key);
    void hideCursor();
    bool isCursorShown() const;
    // The three plots as an image, without the cursor.
    QPixmap picture();

signals:
    void seriesHiddenChanged(int series, bool hidden);

private:
    QCPAxisRect *addAxisRect(int row, const QString &valueLabel, QCPMarginGroup *marginGroup);
    QCPLegend *addLegend(int row);
    QCPGraph *addGraph(QCPAxisRect *rect, QCPAxis *valueAxis, const QString &name,
                       const QColor &color);
    void legendClicked(QCPLegend *legend, QCPAbstractLegendItem *item, QMouseEvent *event);
    void refill();
    void fitValueAxes();

    const TrendStore *store = nullptr;
    QCPAxisRect *cells = nullptr;
    QCPAxisRect *current = nullptr;
    QCPAxisRect *temperatures = nullptr;
    QCPLegend *cellLegend = nullptr;
    QCPLegend *currentLegend = nullptr;
    QCPLegend *temperatureLegend = nullptr;
    std::array<QCPGraph *, TrendStore::SeriesCount> graphs{};
    std::array<QCPItemStraightLine *, 3> cursorLines{};
    int drawnLevel = 0;

    // What the graphs were last filled for: the same again needs no refill.
    struct Filled
    {
        double lower = 0, upper = 0;
        int pixels = -1;
        quint64 revision = 0;
        quint32 hidden = 0;
        const TrendStore *store = nullptr;
        bool operator==(const Filled &o) const
        {
            return lower == o.lower && upper == o.upper && pixels == o.pixels &&
                   revision == o.revision && hidden == o.hidden && store == o.store;
        }
    } filled;
};
