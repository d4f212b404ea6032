#include "plot/trendsplot.h"

#include <cmath>

namespace {

constexpr int MaxCells = TrendStore::MaxCells;

// Fifteen lines must stay apart on one plot: neighbouring cells get distant hues.
const QColor CellColors[MaxCells] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
    QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f), QColor(0xbc, 0xbd, 0x22),
    QColor(0x17, 0xbe, 0xcf), QColor(0x39, 0x3b, 0x79), QColor(0xad, 0x49, 0x4a),
    QColor(0x63, 0x79, 0x39), QColor(0xce, 0x6d, 0xbd), QColor(0xe7, 0xba, 0x52),
};

// The names the main window gives the temperatures.
const char *const TemperatureNames[] = {"BAT_NTC1", "BAT_NTC2", "BAT_NTC3", "SELF-DSG", "MOSFET"};
const QColor TemperatureColors[] = {QColor(0xd6, 0x27, 0x28), QColor(0xff, 0x7f, 0x0e),
                                    QColor(0xbc, 0xbd, 0x22), QColor(0x17, 0xbe, 0xcf),
                                    QColor(0x94, 0x67, 0xbd)};

const QColor HiddenLegendText(0xa0, 0xa0, 0xa0);

// Lets an axis show all of the visible graphs' values in the key range, with a
// little room above and below. minSpan keeps millivolt noise from filling the plot.
void fitAxis(QCPAxis *axis, const QList<QCPGraph *> &graphs, const QCPRange &keyRange,
             double minSpan, bool withZero)
{
    bool any = false;
    QCPRange range;
    for (QCPGraph *graph : graphs) {
        if (!graph->visible() || graph->valueAxis() != axis)
            continue;
        bool found = false;
        const QCPRange r = graph->getValueRange(found, QCP::sdBoth, keyRange);
        if (!found)
            continue;
        if (any)
            range.expand(r);
        else
            range = r;
        any = true;
    }
    if (!any)
        return;
    if (withZero)
        range.expand(0);
    if (range.size() < minSpan) {
        const double center = range.center();
        range = QCPRange(center - minSpan / 2, center + minSpan / 2);
    }
    const double pad = range.size() * 0.08;
    axis->setRange(range.lower - pad, range.upper + pad);
}

} // namespace

TrendsPlot::TrendsPlot(QWidget *parent) : QCustomPlot(parent)
{
    setObjectName(QStringLiteral("plot"));
    setAutoAddPlottableToLegend(false);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    setNoAntialiasingOnDrag(true);
    setMouseTracking(true);
    setMinimumSize(400, 300);
    setToolTip(tr("Wheel: zoom in time. Drag: move in time.\n"
                  "Click a legend entry to hide or show its line."));
    plotLayout()->clear();

    auto *marginGroup = new QCPMarginGroup(this);
    cells = addAxisRect(0, tr("Cells (mV)"), marginGroup);
    current = addAxisRect(1, tr("Current (mA)"), marginGroup);
    temperatures = addAxisRect(2, tr("Temperature (°C)"), marginGroup);
    plotLayout()->setRowStretchFactors({2, 1, 1});

    // One time axis for all three: dragging or zooming any plot moves them together.
    const QList<QCPAxis *> timeAxes = {cells->axis(QCPAxis::atBottom),
                                       current->axis(QCPAxis::atBottom),
                                       temperatures->axis(QCPAxis::atBottom)};
    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    for (QCPAxisRect *rect : {cells, current, temperatures}) {
        rect->setRangeDragAxes(timeAxes, {});
        rect->setRangeZoomAxes(timeAxes, {});
        rect->axis(QCPAxis::atBottom)->setTicker(ticker);
    }
    cells->axis(QCPAxis::atBottom)->setTickLabels(false);
    current->axis(QCPAxis::atBottom)->setTickLabels(false);
    temperatures->axis(QCPAxis::atBottom)->setLabel(tr("Time"));

    QCPAxis *socAxis = current->axis(QCPAxis::atRight);
    socAxis->setVisible(true);
    socAxis->setLabel(tr("State of charge (%)"));
    socAxis->setRange(-2, 102);

    cellLegend = addLegend(0);
    // Two columns of eight: fifteen cells in one column would need a tall plot.
    cellLegend->setWrap(8);
    currentLegend = addLegend(1);
    temperatureLegend = addLegend(2);
    // The legends take only the width they need.
    plotLayout()->setColumnStretchFactors({1, 0.001});

    for (int cell = 0; cell < MaxCells; ++cell)
        graphs[size_t(cell)] = addGraph(cells, cells->axis(QCPAxis::atLeft),
                                        tr("Cell %1").arg(cell + 1), CellColors[cell]);
    graphs[TrendStore::CurrentSeries] =
        addGraph(current, current->axis(QCPAxis::atLeft), tr("Current"), QColor(0x1f, 0x4e, 0x9c));
    graphs[TrendStore::StateOfChargeSeries] =
        addGraph(current, socAxis, tr("State of charge"), QColor(0x2c, 0xa0, 0x2c));
    for (int i = 0; i < TrendStore::TemperatureCount; ++i)
        graphs[size_t(TrendStore::Ntc1Series + i)] =
            addGraph(temperatures, temperatures->axis(QCPAxis::atLeft),
                     QString::fromLatin1(TemperatureNames[i]), TemperatureColors[i]);

    // The cursor sits on a layer of its own, so that following the mouse repaints
    // one line instead of every graph.
    QCPLayer *overlay = layer(QStringLiteral("overlay"));
    overlay->setMode(QCPLayer::lmBuffered);
    int i = 0;
    for (QCPAxisRect *rect : {cells, current, temperatures}) {
        auto *line = new QCPItemStraightLine(this);
        line->setLayer(overlay);
        line->setClipAxisRect(rect);
        line->setPen(QPen(QColor(0x40, 0x40, 0x40), 1, Qt::DashLine));
        for (QCPItemPosition *p : {line->point1, line->point2})
            p->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        line->setVisible(false);
        cursorLines[size_t(i++)] = line;
    }

    connect(this, &QCustomPlot::beforeReplot, this, [this] {
        refill();
        fitValueAxes();
    });
    connect(this, &QCustomPlot::legendClick, this, &TrendsPlot::legendClicked);
}

QCPAxisRect *TrendsPlot::addAxisRect(int row, const QString &valueLabel,
                                     QCPMarginGroup *marginGroup)
{
    auto *rect = new QCPAxisRect(this);
    plotLayout()->addElement(row, 0, rect);
    // The plots line up left and right whatever their tick labels' widths.
    rect->setMarginGroup(QCP::msLeft | QCP::msRight, marginGroup);
    rect->setRangeDrag(Qt::Horizontal);
    rect->setRangeZoom(Qt::Horizontal);
    rect->axis(QCPAxis::atLeft)->setLabel(valueLabel);
    return rect;
}

// Each legend sits beside its plot, at the top: below it, an empty element takes the
// height the legend does not need.
QCPLegend *TrendsPlot::addLegend(int row)
{
    auto *side = new QCPLayoutGrid;
    plotLayout()->addElement(row, 1, side);
    auto *legend = new QCPLegend;
    side->addElement(0, 0, legend);
    side->addElement(1, 0, new QCPLayoutElement(this));
    side->setRowStretchFactors({0.001, 1});
    legend->setLayer(QStringLiteral("legend"));
    legend->setBorderPen(Qt::NoPen);
    legend->setIconSize(18, 10);
    legend->setRowSpacing(0);
    legend->setFillOrder(QCPLayoutGrid::foRowsFirst);
    legend->setMargins(QMargins(4, 0, 0, 0));
    legend->setMinimumMargins(QMargins(4, 4, 4, 4));
    return legend;
}

QCPGraph *TrendsPlot::addGraph(QCPAxisRect *rect, QCPAxis *valueAxis, const QString &name,
                               const QColor &color)
{
    QCPGraph *graph = QCustomPlot::addGraph(rect->axis(QCPAxis::atBottom), valueAxis);
    graph->setName(name);
    graph->setPen(QPen(color, 1));
    return graph;
}

void TrendsPlot::setStore(const TrendStore *newStore)
{
    store = newStore;
    fillLegends();
}

void TrendsPlot::fillLegends()
{
    for (QCPLegend *legend : {cellLegend, currentLegend, temperatureLegend})
        legend->clearItems();
    auto add = [](QCPGraph *graph, QCPLegend *legend) {
        graph->addToLegend(legend);
        if (!graph->visible())
            legend->itemWithPlottable(graph)->setTextColor(HiddenLegendText);
    };
    for (int cell = 0; store && cell < store->cellCount(); ++cell)
        add(graphs[size_t(cell)], cellLegend);
    add(graphs[TrendStore::CurrentSeries], currentLegend);
    add(graphs[TrendStore::StateOfChargeSeries], currentLegend);
    for (int series = TrendStore::Ntc1Series; series <= TrendStore::MosfetSeries; ++series)
        if (series != TrendStore::Ntc3Series || (store && store->hasNtc3()))
            add(graphs[size_t(series)], temperatureLegend);
}

QCPAxis *TrendsPlot::timeAxis() const
{
    return cells->axis(QCPAxis::atBottom);
}

void TrendsPlot::setTimeRange(const QCPRange &range)
{
    for (QCPAxisRect *rect : {cells, current, temperatures})
        rect->axis(QCPAxis::atBottom)->setRange(range);
}

bool TrendsPlot::isSeriesHidden(int series) const
{
    return !graphs[size_t(series)]->visible();
}

void TrendsPlot::setSeriesHidden(int series, bool hidden)
{
    QCPGraph *graph = graphs[size_t(series)];
    if (graph->visible() == !hidden)
        return;
    graph->setVisible(!hidden);
    for (QCPLegend *legend : {cellLegend, currentLegend, temperatureLegend})
        if (QCPPlottableLegendItem *entry = legend->itemWithPlottable(graph))
            entry->setTextColor(hidden ? HiddenLegendText : legend->textColor());
    replot(QCustomPlot::rpQueuedReplot);
    emit seriesHiddenChanged(series, hidden);
}

void TrendsPlot::legendClicked(QCPLegend *, QCPAbstractLegendItem *item, QMouseEvent *)
{
    auto *entry = qobject_cast<QCPPlottableLegendItem *>(item);
    if (!entry)
        return;
    for (int series = 0; series < TrendStore::SeriesCount; ++series)
        if (graphs[size_t(series)] == entry->plottable())
            setSeriesHidden(series, !isSeriesHidden(series));
}

void TrendsPlot::refill()
{
    Filled now;
    now.lower = timeAxis()->range().lower;
    now.upper = timeAxis()->range().upper;
    now.pixels = cells->width();
    now.store = store;
    now.revision = store ? store->revision() : 0;
    for (int series = 0; series < TrendStore::SeriesCount; ++series)
        if (isSeriesHidden(series))
            now.hidden |= 1u << series;
    if (now == filled)
        return;
    filled = now;

    std::vector<TrendStore::Piece> pieces;
    if (store)
        pieces = store->select(qint64(std::floor(now.lower * 1000)),
                               qint64(std::ceil(now.upper * 1000)), now.pixels, &drawnLevel);
    // Smoothing a line through frames makes it easier to read. An interval's lowest
    // and highest value make a vertical stroke a pixel or two from the next one,
    // which smoothing does not improve, and would triple the time a replot takes.
    const bool smooth = drawnLevel == 0;
    QVector<QCPGraphData> points;
    for (int series = 0; series < TrendStore::SeriesCount; ++series) {
        graphs[size_t(series)]->setAntialiased(smooth);
        points.clear();
        if (store && !isSeriesHidden(series))
            store->forEachPoint(pieces, series, [&points](qint64 ms, double value) {
                points.append(QCPGraphData(double(ms) / 1000.0, value));
            });
        graphs[size_t(series)]->data()->set(points, true);
    }
}

void TrendsPlot::fitValueAxes()
{
    const QCPRange keys = timeAxis()->range();
    fitAxis(cells->axis(QCPAxis::atLeft), cells->graphs(), keys, 20, false);
    fitAxis(current->axis(QCPAxis::atLeft), current->graphs(), keys, 200, true);
    fitAxis(temperatures->axis(QCPAxis::atLeft), temperatures->graphs(), keys, 2, false);

    // Seconds matter in a few minutes; over hours they crowd the axis.
    const double span = keys.size();
    const QString format = span <= 10 * 60         ? QStringLiteral("HH:mm:ss")
                           : span <= 2 * 24 * 3600 ? QStringLiteral("HH:mm")
                                                   : QStringLiteral("d MMM HH:mm");
    auto ticker = qSharedPointerCast<QCPAxisTickerDateTime>(timeAxis()->ticker());
    if (ticker && ticker->dateTimeFormat() != format)
        ticker->setDateTimeFormat(format);
}

void TrendsPlot::showCursor(double key)
{
    for (QCPItemStraightLine *line : cursorLines) {
        line->point1->setCoords(key, 0);
        line->point2->setCoords(key, 1);
        line->setVisible(true);
    }
    layer(QStringLiteral("overlay"))->replot();
}

void TrendsPlot::hideCursor()
{
    if (!isCursorShown())
        return;
    for (QCPItemStraightLine *line : cursorLines)
        line->setVisible(false);
    layer(QStringLiteral("overlay"))->replot();
}

bool TrendsPlot::isCursorShown() const
{
    return cursorLines[0]->visible();
}

QPixmap TrendsPlot::picture()
{
    const bool cursorShown = isCursorShown();
    for (QCPItemStraightLine *line : cursorLines)
        line->setVisible(false);
    const QPixmap pixmap = toPixmap();
    for (QCPItemStraightLine *line : cursorLines)
        line->setVisible(cursorShown);
    return pixmap;
}
