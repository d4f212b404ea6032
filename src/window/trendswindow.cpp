#include "window/trendswindow.h"

#include "protocol/displaytext.h"
#include "protocol/recordreader.h"
#include "protocol/telemetryrecord.h"
#include "window/customplot.h"
#include "window/trendsannotations.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <limits>

namespace {

constexpr int MaxCells = Telemetry::MaxCells;
static_assert(TrendsWindow::CurrentSeries == MaxCells, "the cells come first");

// Redrawing faster than the newest point moves by a pixel shows nothing new, so
// a long span redraws seldom; the bounds keep a short span smooth and a long one
// current.
constexpr int FastestRedrawMs = 100;
constexpr int SlowestRedrawMs = 1000;

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

double keyOf(const TelemetryRecord &record)
{
    return double(record.timeMs) / 1000.0;
}

QPointF positionOf(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position();
#else
    return event->localPos();
#endif
}

// The value of a graph's point at exactly this key, if it has one: every series of
// a frame shares the frame's key.
bool valueAt(const QCPGraph *graph, double key, double *value)
{
    const auto data = graph->data();
    const auto it = data->findBegin(key, false);
    if (it == data->constEnd() || it->key != key)
        return false;
    *value = it->value;
    return true;
}

// Calls add(series, value) for every value of the frame that the trends show; the
// layout decides which cells and temperatures there are.
template <typename Add> void forEachValue(const Telemetry &t, Add add)
{
    for (int cell = 0; cell < std::min(t.cellCount, MaxCells); ++cell)
        add(cell, double(t.cellMillivolts[size_t(cell)]));
    add(TrendsWindow::CurrentSeries, double(t.currentMilliamps));
    add(TrendsWindow::StateOfChargeSeries, double(t.stateOfCharge));
    add(TrendsWindow::Ntc1Series, t.ntc1 / 10.0);
    add(TrendsWindow::Ntc2Series, t.ntc2 / 10.0);
    if (t.hasExtendedFields())
        add(TrendsWindow::Ntc3Series, t.ntc3 / 10.0);
    add(TrendsWindow::SelfDischargeSeries, t.selfDischargeNtc / 10.0);
    add(TrendsWindow::MosfetSeries, t.mosfetNtc / 10.0);
}

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

TrendsWindow::TrendsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    customPlot = new QCustomPlot(this);
    buildPlot();
    annotations = new TrendsAnnotations(customPlot, cellRect, currentRect, temperatureRect);

    redrawTimer = new QTimer(this);
    redrawTimer->setSingleShot(true);
    connect(redrawTimer, &QTimer::timeout, this, &TrendsWindow::redraw);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildControls());
    readout = new QLabel(this);
    readout->setObjectName(QStringLiteral("readout"));
    readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Its text changes with every redraw; its width must not change the window's
    // minimum size each time.
    readout->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    layout->addWidget(readout);
    layout->addWidget(customPlot, 1);

    showReadout(0, true);
    updateTitle();
    followNewest();
    resize(980, 680);
}

TrendsWindow::~TrendsWindow() = default;

void TrendsWindow::buildPlot()
{
    customPlot->setObjectName(QStringLiteral("plot"));
    customPlot->setAutoAddPlottableToLegend(false);
    customPlot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    customPlot->setNoAntialiasingOnDrag(true);
    customPlot->setMouseTracking(true);
    customPlot->setMinimumSize(400, 300);
    customPlot->setToolTip(tr("Wheel: zoom in time. Drag: move in time.\n"
                              "Click a legend entry to hide or show its line."));
    customPlot->plotLayout()->clear();
    customPlot->installEventFilter(this);

    auto *marginGroup = new QCPMarginGroup(customPlot);
    cellRect = addAxisRect(0, tr("Cells (mV)"), marginGroup);
    currentRect = addAxisRect(1, tr("Current (mA)"), marginGroup);
    temperatureRect = addAxisRect(2, tr("Temperature (°C)"), marginGroup);
    customPlot->plotLayout()->setRowStretchFactors({2, 1, 1});

    // One time axis for all three: dragging or zooming any plot moves them together.
    const QList<QCPAxis *> timeAxes = {cellRect->axis(QCPAxis::atBottom),
                                       currentRect->axis(QCPAxis::atBottom),
                                       temperatureRect->axis(QCPAxis::atBottom)};
    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    for (QCPAxisRect *rect : {cellRect, currentRect, temperatureRect}) {
        rect->setRangeDragAxes(timeAxes, {});
        rect->setRangeZoomAxes(timeAxes, {});
        rect->axis(QCPAxis::atBottom)->setTicker(ticker);
    }
    cellRect->axis(QCPAxis::atBottom)->setTickLabels(false);
    currentRect->axis(QCPAxis::atBottom)->setTickLabels(false);
    temperatureRect->axis(QCPAxis::atBottom)->setLabel(tr("Time"));

    QCPAxis *socAxis = currentRect->axis(QCPAxis::atRight);
    socAxis->setVisible(true);
    socAxis->setLabel(tr("State of charge (%)"));
    socAxis->setRange(-2, 102);

    // Each legend sits beside its plot, at the top: below it, an empty element takes
    // the height the legend does not need.
    auto addLegend = [this](int row) {
        auto *side = new QCPLayoutGrid;
        customPlot->plotLayout()->addElement(row, 1, side);
        auto *legend = new QCPLegend;
        side->addElement(0, 0, legend);
        side->addElement(1, 0, new QCPLayoutElement(customPlot));
        side->setRowStretchFactors({0.001, 1});
        legend->setLayer(QStringLiteral("legend"));
        legend->setBorderPen(Qt::NoPen);
        legend->setIconSize(18, 10);
        legend->setRowSpacing(0);
        legend->setFillOrder(QCPLayoutGrid::foRowsFirst);
        legend->setMargins(QMargins(4, 0, 0, 0));
        legend->setMinimumMargins(QMargins(4, 4, 4, 4));
        return legend;
    };
    cellLegend = addLegend(0);
    // Two columns of eight: fifteen cells in one column would need a tall plot.
    cellLegend->setWrap(8);
    currentLegend = addLegend(1);
    temperatureLegend = addLegend(2);
    // The legends take only the width they need.
    customPlot->plotLayout()->setColumnStretchFactors({1, 0.001});

    for (int cell = 0; cell < MaxCells; ++cell)
        graphs[size_t(cell)] = addGraph(cellRect, cellRect->axis(QCPAxis::atLeft),
                                        tr("Cell %1").arg(cell + 1), CellColors[cell]);
    graphs[CurrentSeries] = addGraph(currentRect, currentRect->axis(QCPAxis::atLeft), tr("Current"),
                                     QColor(0x1f, 0x4e, 0x9c));
    graphs[StateOfChargeSeries] =
        addGraph(currentRect, socAxis, tr("State of charge"), QColor(0x2c, 0xa0, 0x2c));
    for (int i = 0; i < 5; ++i)
        graphs[size_t(Ntc1Series + i)] =
            addGraph(temperatureRect, temperatureRect->axis(QCPAxis::atLeft),
                     QString::fromLatin1(TemperatureNames[i]), TemperatureColors[i]);

    // The cursor sits on a layer of its own, so that following the mouse repaints
    // one line instead of every graph.
    QCPLayer *overlay = customPlot->layer(QStringLiteral("overlay"));
    overlay->setMode(QCPLayer::lmBuffered);
    int i = 0;
    for (QCPAxisRect *rect : {cellRect, currentRect, temperatureRect}) {
        auto *line = new QCPItemStraightLine(customPlot);
        line->setLayer(overlay);
        line->setClipAxisRect(rect);
        line->setPen(QPen(QColor(0x40, 0x40, 0x40), 1, Qt::DashLine));
        for (QCPItemPosition *p : {line->point1, line->point2})
            p->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        line->setVisible(false);
        cursorLines[size_t(i++)] = line;
    }

    connect(timeAxes.first(), qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &TrendsWindow::timeRangeChanged);
    connect(customPlot, &QCustomPlot::beforeReplot, this, &TrendsWindow::fitValueAxes);
    connect(customPlot, &QCustomPlot::legendClick, this, &TrendsWindow::legendClicked);
    connect(customPlot, &QCustomPlot::mouseMove, this, &TrendsWindow::mouseMoved);
}

QCPAxisRect *TrendsWindow::addAxisRect(int row, const QString &valueLabel,
                                       QCPMarginGroup *marginGroup)
{
    auto *rect = new QCPAxisRect(customPlot);
    customPlot->plotLayout()->addElement(row, 0, rect);
    // The plots line up left and right whatever their tick labels' widths.
    rect->setMarginGroup(QCP::msLeft | QCP::msRight, marginGroup);
    rect->setRangeDrag(Qt::Horizontal);
    rect->setRangeZoom(Qt::Horizontal);
    rect->axis(QCPAxis::atLeft)->setLabel(valueLabel);
    return rect;
}

QCPGraph *TrendsWindow::addGraph(QCPAxisRect *rect, QCPAxis *valueAxis, const QString &name,
                                 const QColor &color)
{
    QCPGraph *graph = customPlot->addGraph(rect->axis(QCPAxis::atBottom), valueAxis);
    graph->setName(name);
    graph->setPen(QPen(color, 1));
    return graph;
}

QWidget *TrendsWindow::buildControls()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(tr("Show:"), bar));

    spanButtons = new QButtonGroup(this);
    struct Span
    {
        int seconds;
        QString text;
        const char *name;
    };
    const Span spans[] = {{60, tr("1 min"), "span1"},
                          {5 * 60, tr("5 min"), "span5"},
                          {15 * 60, tr("15 min"), "span15"},
                          {60 * 60, tr("60 min"), "span60"},
                          {0, tr("All"), "spanAll"}};
    for (const Span &span : spans) {
        auto *button = new QToolButton(bar);
        button->setObjectName(QString::fromLatin1(span.name));
        button->setText(span.text);
        button->setCheckable(true);
        button->setChecked(span.seconds == spanSeconds);
        if (span.seconds == 0)
            button->setToolTip(tr("Everything since the first frame"));
        spanButtons->addButton(button, span.seconds);
        row->addWidget(button);
    }
    connect(spanButtons, &QButtonGroup::idClicked, this, &TrendsWindow::chooseSpan);

    liveButton = new QToolButton(bar);
    liveButton->setObjectName(QStringLiteral("live"));
    liveButton->setText(tr("Live"));
    liveButton->setCheckable(true);
    liveButton->setChecked(true);
    liveButton->setToolTip(tr("Follow new frames. Dragging or zooming the time axis stops "
                              "following; press Live to return."));
    connect(liveButton, &QToolButton::clicked, this, [this](bool checked) {
        if (checked)
            followNewest();
        else
            following = false;
    });
    row->addSpacing(12);
    row->addWidget(liveButton);
    row->addStretch(1);

    auto *exportButton = new QToolButton(bar);
    exportButton->setObjectName(QStringLiteral("exportPng"));
    exportButton->setText(tr("Export PNG…"));
    exportButton->setToolTip(tr("Save the three plots as a PNG image"));
    connect(exportButton, &QToolButton::clicked, this, &TrendsWindow::exportPng);
    row->addWidget(exportButton);
    return bar;
}

// Frames gathered before they reach the graphs, one array of points per series:
// QCustomPlot takes whole arrays much faster than point by point.
class TrendsWindow::SeriesBatch
{
public:
    void append(const TelemetryRecord &record)
    {
        const double key = keyOf(record);
        sorted = sorted && (frames == 0 || key >= lastKey);
        lastKey = key;
        firstKey = frames == 0 ? key : std::min(firstKey, key);
        newestKey = frames == 0 ? key : std::max(newestKey, key);
        ++frames;
        const Telemetry &t = record.telemetry;
        forEachValue(t, [this, key](int series, double value) {
            points[size_t(series)].append(QCPGraphData(key, value));
        });
        cellCount = std::max(cellCount, std::min(t.cellCount, MaxCells));
        ntc3 = ntc3 || t.hasExtendedFields();
    }

    std::array<QVector<QCPGraphData>, SeriesCount> points;
    int frames = 0;
    double firstKey = 0;
    double newestKey = 0;
    int cellCount = 0;
    bool ntc3 = false;
    bool sorted = true;

private:
    double lastKey = 0;
};

void TrendsWindow::addRecord(const TelemetryRecord &record)
{
    const double key = keyOf(record);
    const Telemetry &t = record.telemetry;
    forEachValue(
        t, [this, key](int series, double value) { graphs[size_t(series)]->addData(key, value); });
    noteFrames(key, key, std::min(t.cellCount, MaxCells), t.hasExtendedFields());
    framesAdded(record.port);
}

void TrendsWindow::addRecords(const QVector<TelemetryRecord> &records)
{
    if (records.isEmpty())
        return;
    SeriesBatch batch;
    for (const TelemetryRecord &record : records)
        batch.append(record);
    addBatch(batch);
    framesAdded(records.last().port);
}

void TrendsWindow::addBatch(SeriesBatch &batch)
{
    for (size_t series = 0; series < batch.points.size(); ++series)
        graphs[series]->data()->add(batch.points[series], batch.sorted);
    noteFrames(batch.firstKey, batch.newestKey, batch.cellCount, batch.ntc3);
}

void TrendsWindow::noteFrames(double first, double newest, int cells, bool ntc3)
{
    firstKey = hasData ? std::min(firstKey, first) : first;
    newestKey = hasData ? std::max(newestKey, newest) : newest;
    hasData = true;
    if (cells <= cellCount && (hasNtc3 || !ntc3))
        return;
    cellCount = std::max(cellCount, cells);
    hasNtc3 = hasNtc3 || ntc3;
    fillLegends();
}

void TrendsWindow::framesAdded(const QString &port)
{
    if (live && port != source) {
        source = port;
        updateTitle();
    }
    const QCPRange shown = cellRect->axis(QCPAxis::atBottom)->range();
    plotStale = plotStale || following || shown.contains(newestKey);
    // The readout follows the newest frame at the pace of the redraws too (a label
    // that changes its text lays the window out again), at the start of each pause
    // and at its end.
    if (!hovering && !redrawTimer->isActive())
        showReadout(newestKey, true);
    scheduleRedraw();
}

// Only what the board sends gets a legend entry: a 9-cell board shows no cells
// 10-15 and no BAT_NTC3.
void TrendsWindow::fillLegends()
{
    for (QCPLegend *legend : {cellLegend, currentLegend, temperatureLegend})
        legend->clearItems();
    auto add = [](QCPGraph *graph, QCPLegend *legend) {
        graph->addToLegend(legend);
        if (!graph->visible())
            legend->itemWithPlottable(graph)->setTextColor(HiddenLegendText);
    };
    for (int cell = 0; cell < cellCount; ++cell)
        add(graphs[size_t(cell)], cellLegend);
    add(graphs[CurrentSeries], currentLegend);
    add(graphs[StateOfChargeSeries], currentLegend);
    for (int series = Ntc1Series; series <= MosfetSeries; ++series)
        if (series != Ntc3Series || hasNtc3)
            add(graphs[size_t(series)], temperatureLegend);
}

void TrendsWindow::clearData()
{
    for (QCPGraph *graph : graphs)
        graph->data()->clear();
    hasData = false;
    firstKey = newestKey = 0;
    cellCount = 0;
    hasNtc3 = false;
    fillLegends();
}

bool TrendsWindow::openRecording(const QString &path, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(tr("Cannot open %1: %2").arg(path, file.errorString()));
    // Read to the end before anything changes: a recording with a broken line leaves
    // the window as it was.
    RecordReader reader(&file);
    SeriesBatch batch;
    TelemetryRecord record;
    while (reader.next(&record))
        batch.append(record);
    if (reader.hasError())
        return fail(tr("Cannot read %1: %2").arg(path, reader.errorString()));
    if (batch.frames == 0)
        return fail(tr("%1 holds no frames.").arg(path));

    clearData();
    addBatch(batch);
    live = false;
    liveButton->hide();
    source = QFileInfo(path).fileName();
    updateTitle();
    spanButtons->button(0)->setChecked(true);
    chooseSpan(0);
    showReadout(newestKey, true);
    return true;
}

void TrendsWindow::setLimits(const Limits &limits)
{
    annotations->setLimits(limits);
}

void TrendsWindow::addEvents(const QVector<JudgeEvent> &events)
{
    annotations->addEvents(events);
}

void TrendsWindow::chooseSpan(int seconds)
{
    spanSeconds = seconds;
    followNewest();
}

void TrendsWindow::followNewest()
{
    following = true;
    liveButton->setChecked(true);
    const double upper = hasData ? newestKey : QDateTime::currentMSecsSinceEpoch() / 1000.0;
    double lower = spanSeconds > 0 ? upper - spanSeconds : firstKey;
    if (!hasData && spanSeconds == 0)
        lower = upper - 60;
    // A single frame in "All" still needs some width to draw in.
    if (upper - lower < 1)
        lower = upper - 1;
    setTimeRange(QCPRange(lower, upper));
    customPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendsWindow::setTimeRange(const QCPRange &range)
{
    settingRange = true;
    for (QCPAxisRect *rect : {cellRect, currentRect, temperatureRect})
        rect->axis(QCPAxis::atBottom)->setRange(range);
    settingRange = false;
}

// Any move of the time axis that the window did not make is the user's: a drag or a
// wheel turn. It ends following, so that new frames do not pull the view away.
void TrendsWindow::timeRangeChanged()
{
    if (settingRange || !following)
        return;
    following = false;
    liveButton->setChecked(false);
}

void TrendsWindow::fitValueAxes()
{
    const QCPRange keys = cellRect->axis(QCPAxis::atBottom)->range();
    fitAxis(cellRect->axis(QCPAxis::atLeft), cellRect->graphs(), keys, 20, false);
    fitAxis(currentRect->axis(QCPAxis::atLeft), currentRect->graphs(), keys, 200, true);
    fitAxis(temperatureRect->axis(QCPAxis::atLeft), temperatureRect->graphs(), keys, 2, false);

    // Seconds matter in a few minutes; over hours they crowd the axis.
    const double span = keys.size();
    const QString format = span <= 10 * 60         ? QStringLiteral("HH:mm:ss")
                           : span <= 2 * 24 * 3600 ? QStringLiteral("HH:mm")
                                                   : QStringLiteral("d MMM HH:mm");
    auto ticker =
        qSharedPointerCast<QCPAxisTickerDateTime>(cellRect->axis(QCPAxis::atBottom)->ticker());
    if (ticker && ticker->dateTimeFormat() != format)
        ticker->setDateTimeFormat(format);
}

void TrendsWindow::scheduleRedraw()
{
    if (redrawTimer->isActive())
        return;
    const double secondsPerPixel =
        cellRect->axis(QCPAxis::atBottom)->range().size() / std::max(1, cellRect->width());
    redrawTimer->start(qBound(FastestRedrawMs, int(secondsPerPixel * 1000), SlowestRedrawMs));
}

void TrendsWindow::redraw()
{
    if (!hovering)
        showReadout(newestKey, true);
    if (!plotStale || !isVisible())
        return;
    plotStale = false;
    if (following)
        followNewest();
    else
        customPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (plotStale)
        scheduleRedraw();
}

bool TrendsWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == customPlot && event->type() == QEvent::Leave)
        hideCursor();
    return QWidget::eventFilter(watched, event);
}

void TrendsWindow::legendClicked(QCPLegend *, QCPAbstractLegendItem *item, QMouseEvent *)
{
    auto *entry = qobject_cast<QCPPlottableLegendItem *>(item);
    if (!entry)
        return;
    QCPAbstractPlottable *graph = entry->plottable();
    graph->setVisible(!graph->visible());
    entry->setTextColor(graph->visible() ? entry->parentLegend()->textColor() : HiddenLegendText);
    customPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendsWindow::mouseMoved(QMouseEvent *event)
{
    const QPoint pos = positionOf(event).toPoint();
    for (QCPAxisRect *rect : {cellRect, currentRect, temperatureRect}) {
        if (rect->rect().contains(pos)) {
            showCursor(rect->axis(QCPAxis::atBottom)->pixelToCoord(pos.x()));
            return;
        }
    }
    hideCursor();
}

double TrendsWindow::nearestFrameKey(double key) const
{
    // Every frame carries a current, so its graph holds every frame's key.
    const auto data = graphs[CurrentSeries]->data();
    auto it = data->findBegin(key, false);
    if (it == data->constEnd())
        return (it - 1)->key;
    if (it != data->constBegin() && key - (it - 1)->key < it->key - key)
        --it;
    return it->key;
}

void TrendsWindow::showCursor(double key)
{
    if (!hasData) {
        hideCursor();
        return;
    }
    const double frameKey = nearestFrameKey(key);
    hovering = true;
    for (QCPItemStraightLine *line : cursorLines) {
        line->point1->setCoords(frameKey, 0);
        line->point2->setCoords(frameKey, 1);
        line->setVisible(true);
    }
    customPlot->layer(QStringLiteral("overlay"))->replot();
    showReadout(frameKey, false);
}

void TrendsWindow::hideCursor()
{
    if (!hovering)
        return;
    hovering = false;
    for (QCPItemStraightLine *line : cursorLines)
        line->setVisible(false);
    customPlot->layer(QStringLiteral("overlay"))->replot();
    showReadout(newestKey, true);
}

// Lowest and highest cell and their spread: what a technician watching a balancing
// run looks for first.
void TrendsWindow::showReadout(double key, bool newest)
{
    int lowestCell = -1, highestCell = -1;
    double lowest = 0, highest = 0;
    for (int cell = 0; hasData && cell < cellCount; ++cell) {
        double mv;
        if (!valueAt(graphs[size_t(cell)], key, &mv))
            continue;
        if (lowestCell < 0 || mv < lowest) {
            lowest = mv;
            lowestCell = cell;
        }
        if (highestCell < 0 || mv > highest) {
            highest = mv;
            highestCell = cell;
        }
    }
    if (lowestCell < 0) {
        readout->setText(tr("No frames yet."));
        return;
    }
    const QString time = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(key * 1000)))
                             .toString(QStringLiteral("HH:mm:ss"));
    const auto mv = [](double value) { return DisplayText::unsignedDecimal(quint32(value)); };
    readout->setText(tr("%1   lowest: cell %2, %3 mV   highest: cell %4, %5 mV   spread: %6 mV")
                         .arg(newest ? tr("Newest frame %1").arg(time) : tr("At %1").arg(time))
                         .arg(lowestCell + 1)
                         .arg(mv(lowest))
                         .arg(highestCell + 1)
                         .arg(mv(highest))
                         .arg(mv(highest - lowest)));
}

void TrendsWindow::exportPng()
{
    const QString proposed =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(
                QStringLiteral("keldro-trends-%1.png")
                    .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    // The non-native dialog is the same on every desktop and can be answered by tests.
    QString path =
        QFileDialog::getSaveFileName(this, tr("Export PNG"), proposed, tr("PNG images (*.png)"),
                                     nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");

    const bool cursorShown = cursorLines[0]->visible();
    for (QCPItemStraightLine *line : cursorLines)
        line->setVisible(false);
    const QPixmap picture = customPlot->toPixmap();
    for (QCPItemStraightLine *line : cursorLines)
        line->setVisible(cursorShown);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit())
        QMessageBox::warning(this, tr("Export PNG"),
                             tr("Could not write %1: %2").arg(path, file.errorString()));
}

void TrendsWindow::updateTitle()
{
    setWindowTitle(source.isEmpty() ? tr("keldro trends") : tr("keldro trends — %1").arg(source));
}
