#pragma once

#include "judge/cellhealthestimator.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class HealthWindow;
class QTimer;
class QWidget;
class RecordingHealth;
class ValueFieldMarks;
class WindowSettings;
struct TelemetryRecord;

// The main window's part in telling which cell is weak. It estimates the board on the
// window's link from its first frame on, whether the cells window is shown or not (a
// new port starts a new estimate: it is another board), gives each cell field's
// tooltip its resistance once measured, and works out the health of the recordings
// opened in a trends window. The cells window is made when first wanted and keeps its
// place for the next session.
class WindowHealth : public QObject
{
    Q_OBJECT

public:
    // Estimates are redrawn at most this often: a median over every step for each
    // frame would cost more than it shows.
    static constexpr int RefreshMs = 1000;

    WindowHealth(QWidget *mainWindow, WindowSettings *settings, ValueFieldMarks *marks);
    ~WindowHealth() override;

    void frameAccepted(const TelemetryRecord &record);
    // Reads path on a worker thread and shows its health in the cells window, which
    // is made for it if need be (and shown only when asked for).
    void takeRecording(const QString &path);

    // Shows the cells window with the source it has.
    void showWindow();
    // Shows it with the recording chosen (empty: the live board), if that is one of
    // its sources.
    void showSource(const QString &recording);
    // Null until first shown or given a recording.
    HealthWindow *window() const { return cellsWindow; }
    // The main window is closing: where a shown cells window is, is the one to remember.
    void rememberPlace();

    // The live board's estimate now.
    CellHealth liveHealth() const { return live.result(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    HealthWindow *ensureWindow();
    void refresh();
    void recordingRead(RecordingHealth *reading);

    QWidget *mainWindow;
    WindowSettings *settings;
    ValueFieldMarks *marks;
    CellHealthEstimator live;
    QString livePort;
    bool liveChanged = false;
    QTimer *refreshTimer;
    HealthWindow *cellsWindow = nullptr;
    QHash<QString, RecordingHealth *> readings;
};
