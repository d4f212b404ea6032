#pragma once

#include "plot/trendstore.h"

#include <QVector>
#include <QWidget>
#include <memory>

class QButtonGroup;
class QCPGraph;
class QCPRange;
class QLabel;
class QMouseEvent;
class QProgressBar;
class QTimer;
class QToolButton;
class RecordingLoader;
class TrendsAnnotations;
class TrendsPlot;
class TrendsReadout;
struct JudgeEvent;
struct Limits;
struct TelemetryRecord;

// How the pack behaves over time: cell voltages, current and state of charge, and
// the temperatures, on one time axis. A window of its own, fed live by the main
// window from the session's first frame, or filled from a recording read on a
// worker thread.
//
// The frames go into a TrendStore, which keeps a session of any length in bounded
// memory; the plots draw from it only what their width shows.
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

    // Starts reading a recording (CSV or JSON Lines) on a worker thread, with a
    // progress bar and Cancel in the window, which keeps what it shows until the
    // whole file has been read: then recordingOpened(), or openFailed() or
    // openCancelled() with nothing changed; the file is opened on the worker thread,
    // and one that cannot be is an openFailed(). False, with the reason in *error,
    // while another recording is being read.
    bool openRecording(const QString &path, QString *error = nullptr);
    bool isOpening() const;
    void cancelOpening();

    // The judge's limits as dashed lines, its events as marks on the time axis.
    void setLimits(const Limits &limits);
    void addEvents(const QVector<JudgeEvent> &events);

    const TrendStore &store() const { return *trendStore; }
    // The recording shown; empty while the window follows the live board.
    QString recordingPath() const { return live ? QString() : openingPath; }
    // The drawing itself, for exporting and measuring, and for marks drawn on it.
    TrendsPlot *plot() const { return trendsPlot; }
    // The graph of one TrendStore::Series; it holds the points drawn, not the store.
    QCPGraph *graph(int series) const;

    // The time shown, in seconds since the epoch. Setting it stops following new
    // frames, as a drag does.
    QCPRange timeRange() const;
    void setTimeRange(const QCPRange &range);
    // The span a button shows: the last so many seconds, or 0 for everything since
    // the first frame. Setting it follows the newest frame again.
    int span() const { return spanSeconds; }
    void setSpan(int seconds);
    // The span the technician chose last (0: everything). Until there is more data than
    // it holds, the window shows the smallest span that holds all of it instead, so
    // that a young session does not sit as a sliver at the right edge.
    void setPreferredSpan(int seconds);
    bool isFollowing() const { return following; }
    void followNewest();

    // A line hidden through its legend entry; hidden lines are not drawn at all.
    bool isSeriesHidden(int series) const;
    void setSeriesHidden(int series, bool hidden);

signals:
    void recordingOpened(const QString &path);
    void openFailed(const QString &path, const QString &reason);
    void openCancelled(const QString &path);
    void spanChanged(int seconds);
    // A span button pressed: the technician's choice, worth keeping for next time.
    void spanChosen(int seconds);
    void seriesHiddenChanged(int series, bool hidden);
    // Export report… was pressed: a report of what the window shows is wanted.
    void reportRequested();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildControls();
    QWidget *buildOpeningBar();
    void framesAdded(const QString &port, bool newLegends);
    void recordingRead();

    void chooseSpan(int seconds);
    int spanThatFits() const;
    void timeRangeChanged();
    void scheduleRedraw();
    void redraw();

    void mouseMoved(QMouseEvent *event);
    void hideCursor();

    void exportPng();
    void updateTitle();

    std::unique_ptr<TrendStore> trendStore;
    TrendsPlot *trendsPlot = nullptr;
    TrendsAnnotations *annotations = nullptr;
    TrendsReadout *readout = nullptr;
    QButtonGroup *spanButtons = nullptr;
    QToolButton *liveButton = nullptr;
    QTimer *redrawTimer = nullptr;

    RecordingLoader *loader = nullptr;
    QString openingPath;
    QWidget *openingBar = nullptr;
    QLabel *openingLabel = nullptr;
    QProgressBar *openingProgress = nullptr;
    QTimer *progressTimer = nullptr;
    QLabel *notice = nullptr; // what the user should know about the recording shown

    int spanSeconds = 15 * 60;     // 0: everything
    int preferredSpan = 15 * 60;   // live, until a span is chosen
    bool spanChosenBefore = false; // a recording is shown whole until a span is chosen
    bool fitting = true;           // the span follows the data until it outgrows preferredSpan
    bool following = true;         // the time axis ends at the newest frame
    bool settingRange = false;     // the window moves the axis, not the user
    bool live = true;              // fed frame by frame, not from a recording
    bool hovering = false;
    bool plotStale = false; // frames arrived where the plot shows them
    QString source;         // the port or the recording's file name, for the title
};
