#pragma once

#include <QVector>
#include <QWidget>
#include <array>

class QButtonGroup;
class QCPAbstractLegendItem;
class QCPAxis;
class QCPAxisRect;
class QCPGraph;
class QCPItemStraightLine;
class QCPLegend;
class QCPMarginGroup;
class QCPRange;
class QCustomPlot;
class QLabel;
class QMouseEvent;
class QTimer;
class QToolButton;
class TrendsAnnotations;
struct JudgeEvent;
struct Limits;
struct TelemetryRecord;

// How the pack behaves over time: cell voltages, current and state of charge, and
// the temperatures, on one time axis. A window of its own, fed live by the main
// window or filled from a recording.
//
// The graphs are the store: each keeps its points as (time, value) pairs of
// doubles, 16 bytes a point, and QCustomPlot's adaptive sampling draws about as
// many line segments as the plot is pixels wide however many points it holds, so a
// whole session stays in memory and on screen.
class TrendsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TrendsWindow(QWidget *parent = nullptr);
    ~TrendsWindow() override;

    // One frame the main window accepted.
    void addRecord(const TelemetryRecord &record);
    // Many frames at once, as a recording holds them.
    void addRecords(const QVector<TelemetryRecord> &records);
    // Shows a recording (CSV or JSON Lines) instead; false, with the reason in
    // *error, when it cannot be read.
    bool openRecording(const QString &path, QString *error);
    // The judge's limits as dashed lines, its events as marks on the time axis.
    void setLimits(const Limits &limits);
    void addEvents(const QVector<JudgeEvent> &events);

    // The drawing itself, for exporting and measuring.
    QCustomPlot *plot() const { return customPlot; }

    // Every series, one graph each: the cells first, then these.
    enum Series {
        CurrentSeries = 15, // Telemetry::MaxCells cells come before it
        StateOfChargeSeries,
        Ntc1Series,
        Ntc2Series,
        Ntc3Series,
        SelfDischargeSeries,
        MosfetSeries,
        SeriesCount
    };
    QCPGraph *graph(int series) const { return graphs[size_t(series)]; }

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPlot();
    QWidget *buildControls();
    QCPAxisRect *addAxisRect(int row, const QString &valueLabel, QCPMarginGroup *marginGroup);
    QCPGraph *addGraph(QCPAxisRect *rect, QCPAxis *valueAxis, const QString &name,
                       const QColor &color);
    class SeriesBatch;
    void addBatch(SeriesBatch &batch);
    void noteFrames(double first, double newest, int cells, bool ntc3);
    void framesAdded(const QString &port);
    void fillLegends();
    void clearData();

    void chooseSpan(int seconds);
    void followNewest();
    void setTimeRange(const QCPRange &range);
    void timeRangeChanged();
    void fitValueAxes();
    void scheduleRedraw();
    void redraw();

    void legendClicked(QCPLegend *legend, QCPAbstractLegendItem *item, QMouseEvent *event);
    void mouseMoved(QMouseEvent *event);
    void showCursor(double key);
    void hideCursor();
    void showReadout(double key, bool newest);
    double nearestFrameKey(double key) const;

    void exportPng();
    void updateTitle();

    QCustomPlot *customPlot = nullptr;
    TrendsAnnotations *annotations = nullptr;
    QCPAxisRect *cellRect = nullptr;
    QCPAxisRect *currentRect = nullptr;
    QCPAxisRect *temperatureRect = nullptr;
    QCPLegend *cellLegend = nullptr;
    QCPLegend *currentLegend = nullptr;
    QCPLegend *temperatureLegend = nullptr;
    std::array<QCPGraph *, SeriesCount> graphs{};
    std::array<QCPItemStraightLine *, 3> cursorLines{};

    QLabel *readout = nullptr;
    QButtonGroup *spanButtons = nullptr;
    QToolButton *liveButton = nullptr;
    QTimer *redrawTimer = nullptr;

    int spanSeconds = 15 * 60; // 0: everything
    bool following = true;     // the time axis ends at the newest frame
    bool settingRange = false; // the window moves the axis, not the user
    bool live = true;          // fed frame by frame, not from a recording
    bool hovering = false;
    bool plotStale = false; // frames arrived where the plot shows them
    double firstKey = 0;    // seconds since the epoch, as the date-time ticker counts
    double newestKey = 0;
    bool hasData = false;
    int cellCount = 0;    // the most cells a frame carried: 9 or 15
    bool hasNtc3 = false; // type 2 frames carry BAT_NTC3
    QString source;       // the port or the recording's file name, for the title
};
