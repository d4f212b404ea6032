#include "window/trends/trendswindow.h"

#include "plot/trendsannotations.h"
#include "plot/trendsplot.h"
#include "protocol/telemetryrecord.h"
#include "window/trends/recordingloader.h"
#include "window/trends/trendsreadout.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>

namespace {

// Redrawing faster than the newest point moves by a pixel shows nothing new, so
// a long span redraws seldom; the bounds keep a short span smooth and a long one
// current.
constexpr int FastestRedrawMs = 100;
constexpr int SlowestRedrawMs = 1000;

QPointF positionOf(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position();
#else
    return event->localPos();
#endif
}

} // namespace

TrendsWindow::TrendsWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), trendStore(std::make_unique<TrendStore>())
{
    trendsPlot = new TrendsPlot(this);
    trendsPlot->setStore(trendStore.get());
    annotations = new TrendsAnnotations(trendsPlot, trendsPlot->cellRect(),
                                        trendsPlot->currentRect(), trendsPlot->temperatureRect());
    trendsPlot->installEventFilter(this);
    connect(trendsPlot->timeAxis(), qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &TrendsWindow::timeRangeChanged);
    connect(trendsPlot, &QCustomPlot::mouseMove, this, &TrendsWindow::mouseMoved);
    connect(trendsPlot, &TrendsPlot::seriesHiddenChanged, this, &TrendsWindow::seriesHiddenChanged);

    redrawTimer = new QTimer(this);
    redrawTimer->setSingleShot(true);
    connect(redrawTimer, &QTimer::timeout, this, &TrendsWindow::redraw);

    loader = new RecordingLoader(this);
    connect(loader, &RecordingLoader::finished, this, &TrendsWindow::recordingRead);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildControls());
    layout->addWidget(buildOpeningBar());
    notice = new QLabel(this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setWordWrap(true);
    notice->hide();
    layout->addWidget(notice);
    readout = new TrendsReadout(this);
    layout->addWidget(readout);
    layout->addWidget(trendsPlot, 1);

    updateTitle();
    followNewest();
    resize(980, 680);
}

TrendsWindow::~TrendsWindow() = default;

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
    const Span spans[] = {{60, tr("1 min"), "span1"},           {5 * 60, tr("5 min"), "span5"},
                          {15 * 60, tr("15 min"), "span15"},    {60 * 60, tr("60 min"), "span60"},
                          {6 * 3600, tr("6 h"), "span6h"},      {24 * 3600, tr("24 h"), "span24h"},
                          {7 * 24 * 3600, tr("7 d"), "span7d"}, {0, tr("All"), "spanAll"}};
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

    auto *reportButton = new QToolButton(bar);
    reportButton->setObjectName(QStringLiteral("exportReport"));
    reportButton->setText(tr("Export report…"));
    reportButton->setToolTip(
        tr("Write a report of what the window shows, PDF or HTML: the "
           "verdict, the checks, the cell health, these plots and the events"));
    connect(reportButton, &QToolButton::clicked, this, &TrendsWindow::reportRequested);
    row->addWidget(reportButton);
    return bar;
}

QWidget *TrendsWindow::buildOpeningBar()
{
    openingBar = new QWidget(this);
    auto *row = new QHBoxLayout(openingBar);
    row->setContentsMargins(0, 0, 0, 0);
    openingLabel = new QLabel(openingBar);
    row->addWidget(openingLabel);
    openingProgress = new QProgressBar(openingBar);
    openingProgress->setObjectName(QStringLiteral("openProgress"));
    openingProgress->setRange(0, 1000);
    openingProgress->setTextVisible(false);
    row->addWidget(openingProgress, 1);
    auto *cancel = new QToolButton(openingBar);
    cancel->setObjectName(QStringLiteral("cancelOpen"));
    cancel->setText(tr("Cancel"));
    cancel->setToolTip(tr("Stop reading; the window keeps what it shows"));
    connect(cancel, &QToolButton::clicked, this, &TrendsWindow::cancelOpening);
    row->addWidget(cancel);
    openingBar->hide();

    progressTimer = new QTimer(this);
    progressTimer->setInterval(100);
    connect(progressTimer, &QTimer::timeout, this,
            [this] { openingProgress->setValue(loader->permille()); });
    return openingBar;
}

void TrendsWindow::addRecord(const TelemetryRecord &record)
{
    const int cells = trendStore->cellCount();
    const bool ntc3 = trendStore->hasNtc3();
    trendStore->add(record.timeMs, record.telemetry);
    framesAdded(record.port, cells != trendStore->cellCount() || ntc3 != trendStore->hasNtc3());
}

void TrendsWindow::addRecords(const QVector<TelemetryRecord> &records)
{
    if (records.isEmpty())
        return;
    const int cells = trendStore->cellCount();
    const bool ntc3 = trendStore->hasNtc3();
    for (const TelemetryRecord &record : records)
        trendStore->add(record.timeMs, record.telemetry);
    framesAdded(records.last().port,
                cells != trendStore->cellCount() || ntc3 != trendStore->hasNtc3());
}

void TrendsWindow::framesAdded(const QString &port, bool newLegends)
{
    if (newLegends)
        trendsPlot->fillLegends();
    if (live && port != source) {
        source = port;
        updateTitle();
    }
    const double newest = double(trendStore->newestMs()) / 1000.0;
    plotStale = plotStale || following || timeRange().contains(newest);
    // The readout follows the newest frame at the pace of the redraws too (a label
    // that changes its text lays the window out again), at the start of each pause
    // and at its end.
    if (!hovering && !redrawTimer->isActive())
        readout->showNewest(*trendStore);
    scheduleRedraw();
}

bool TrendsWindow::openRecording(const QString &path, QString *error)
{
    // Not even opened here: a named pipe or a network file that does not answer
    // would hold the window up. A file that cannot be opened is an openFailed().
    if (loader->isRunning()) {
        if (error)
            *error = tr("Still reading %1").arg(openingPath);
        return false;
    }
    openingPath = path;
    openingLabel->setText(tr("Reading %1…").arg(QFileInfo(path).fileName()));
    openingProgress->setValue(0);
    openingBar->show();
    progressTimer->start();
    loader->start(path);
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

bool TrendsWindow::isOpening() const
{
    return loader->isRunning();
}

void TrendsWindow::cancelOpening()
{
    loader->cancel();
}

void TrendsWindow::recordingRead()
{
    progressTimer->stop();
    openingBar->hide();
    RecordingLoader::Result result = loader->takeResult();
    if (result.cancelled) {
        emit openCancelled(openingPath);
        return;
    }
    if (!result.store) {
        emit openFailed(openingPath, result.error);
        return;
    }
    trendStore = std::move(result.store);
    trendsPlot->setStore(trendStore.get());
    live = false;
    liveButton->hide();
    source = QFileInfo(openingPath).fileName();
    updateTitle();
    notice->setText(result.notice);
    notice->setVisible(!result.notice.isEmpty());
    fitting = true;
    setSpan(spanThatFits());
    readout->showNewest(*trendStore);
    emit recordingOpened(openingPath);
}

QCPGraph *TrendsWindow::graph(int series) const
{
    return trendsPlot->seriesGraph(series);
}

QCPRange TrendsWindow::timeRange() const
{
    return trendsPlot->timeAxis()->range();
}

void TrendsWindow::setTimeRange(const QCPRange &range)
{
    following = false;
    liveButton->setChecked(false);
    settingRange = true;
    trendsPlot->setTimeRange(range);
    settingRange = false;
    trendsPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendsWindow::setSpan(int seconds)
{
    if (QAbstractButton *button = spanButtons->button(seconds))
        button->setChecked(true);
    const bool changed = seconds != spanSeconds;
    spanSeconds = seconds;
    followNewest();
    if (changed)
        emit spanChanged(seconds);
}

void TrendsWindow::setPreferredSpan(int seconds)
{
    preferredSpan = std::max(0, seconds);
    spanChosenBefore = true;
    fitting = true;
    setSpan(spanThatFits());
}

void TrendsWindow::chooseSpan(int seconds)
{
    fitting = false;
    preferredSpan = seconds;
    spanChosenBefore = true;
    setSpan(seconds);
    emit spanChosen(seconds);
}

// The preferred span once the data outgrows it. Before that, a recording is shown
// whole, and a live session in the shortest span button that holds it, stepping up
// as it grows.
int TrendsWindow::spanThatFits() const
{
    const qint64 heldSeconds =
        trendStore->isEmpty() ? 0 : (trendStore->newestMs() - trendStore->firstMs()) / 1000;
    if (!live && !spanChosenBefore)
        return 0;
    if (preferredSpan == 0 || heldSeconds > preferredSpan)
        return preferredSpan;
    if (!live)
        return 0;
    for (QAbstractButton *button : spanButtons->buttons()) {
        const int seconds = spanButtons->id(button);
        if (seconds >= heldSeconds && seconds > 0 && seconds <= preferredSpan)
            return seconds;
    }
    return preferredSpan;
}

void TrendsWindow::followNewest()
{
    following = true;
    if (fitting && spanThatFits() != spanSeconds) {
        spanSeconds = spanThatFits();
        if (QAbstractButton *button = spanButtons->button(spanSeconds))
            button->setChecked(true);
        emit spanChanged(spanSeconds);
    }
    liveButton->setChecked(true);
    const bool hasData = !trendStore->isEmpty();
    const double upper = hasData ? double(trendStore->newestMs()) / 1000.0
                                 : double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    double lower = spanSeconds > 0 ? upper - spanSeconds : double(trendStore->firstMs()) / 1000.0;
    if (!hasData && spanSeconds == 0)
        lower = upper - 60;
    // A single frame in "All" still needs some width to draw in.
    if (upper - lower < 1)
        lower = upper - 1;
    settingRange = true;
    trendsPlot->setTimeRange(QCPRange(lower, upper));
    settingRange = false;
    trendsPlot->replot(QCustomPlot::rpQueuedReplot);
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

bool TrendsWindow::isSeriesHidden(int series) const
{
    return trendsPlot->isSeriesHidden(series);
}

void TrendsWindow::setSeriesHidden(int series, bool hidden)
{
    trendsPlot->setSeriesHidden(series, hidden);
}

void TrendsWindow::scheduleRedraw()
{
    if (redrawTimer->isActive())
        return;
    const double secondsPerPixel =
        timeRange().size() / std::max(1, trendsPlot->cellRect()->width());
    redrawTimer->start(qBound(FastestRedrawMs, int(secondsPerPixel * 1000), SlowestRedrawMs));
}

void TrendsWindow::redraw()
{
    if (!hovering)
        readout->showNewest(*trendStore);
    if (!plotStale || !isVisible())
        return;
    plotStale = false;
    if (following)
        followNewest();
    else
        trendsPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (plotStale)
        scheduleRedraw();
}

bool TrendsWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == trendsPlot && event->type() == QEvent::Leave)
        hideCursor();
    return QWidget::eventFilter(watched, event);
}

void TrendsWindow::mouseMoved(QMouseEvent *event)
{
    const QPoint pos = positionOf(event).toPoint();
    for (QCPAxisRect *rect :
         {trendsPlot->cellRect(), trendsPlot->currentRect(), trendsPlot->temperatureRect()}) {
        if (!rect->rect().contains(pos))
            continue;
        if (trendStore->isEmpty())
            break;
        hovering = true;
        const double key = rect->axis(QCPAxis::atBottom)->pixelToCoord(pos.x());
        trendsPlot->showCursor(readout->showAt(*trendStore, key, trendsPlot->shownLevel()));
        return;
    }
    hideCursor();
}

void TrendsWindow::hideCursor()
{
    if (!hovering)
        return;
    hovering = false;
    trendsPlot->hideCursor();
    readout->showNewest(*trendStore);
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

    const QPixmap picture = trendsPlot->picture();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit())
        QMessageBox::warning(this, tr("Export PNG"),
                             tr("Could not write %1: %2").arg(path, file.errorString()));
}

void TrendsWindow::updateTitle()
{
    setWindowTitle(source.isEmpty() ? tr("keldro trends") : tr("keldro trends — %1").arg(source));
}
