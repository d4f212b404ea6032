#include "window/health/windowhealth.h"

#include "protocol/telemetryrecord.h"
#include "window/alarms/valuefieldmarks.h"
#include "window/health/healthwindow.h"
#include "window/health/recordinghealth.h"
#include "window/windowplace.h"
#include "window/windowsettings.h"

#include <QEvent>
#include <QTimer>

WindowHealth::WindowHealth(QWidget *mainWindow, WindowSettings *settings, ValueFieldMarks *marks)
    : QObject(mainWindow), mainWindow(mainWindow), settings(settings), marks(marks),
      refreshTimer(new QTimer(this))
{
    refreshTimer->setInterval(RefreshMs);
    connect(refreshTimer, &QTimer::timeout, this, &WindowHealth::refresh);
}

// The readings stop before the window they would report to goes.
WindowHealth::~WindowHealth()
{
    qDeleteAll(readings);
}

void WindowHealth::frameAccepted(const TelemetryRecord &record)
{
    if (record.port != livePort) {
        live.reset();
        livePort = record.port;
    }
    live.add(record);
    liveChanged = true;
    if (!refreshTimer->isActive()) {
        refreshTimer->start();
        // The first frame of a link shows at once; the rest at the timer's pace.
        refresh();
    }
}

void WindowHealth::refresh()
{
    if (!liveChanged) {
        refreshTimer->stop();
        return;
    }
    liveChanged = false;
    const CellHealth health = liveHealth();
    QStringList notes;
    for (const CellEstimate &cell : health.cells) {
        if (!cell.resistanceMilliohm)
            notes << QString();
        else if (cell.steps == 1)
            notes << tr("resistance %1 mΩ over 1 step").arg(*cell.resistanceMilliohm, 0, 'f', 1);
        else
            notes << tr("resistance %1 mΩ over %2 steps")
                         .arg(*cell.resistanceMilliohm, 0, 'f', 1)
                         .arg(cell.steps);
    }
    marks->setCellNotes(notes);
    if (cellsWindow)
        cellsWindow->showLive(livePort, health);
}

HealthWindow *WindowHealth::ensureWindow()
{
    if (!cellsWindow) {
        cellsWindow = new HealthWindow(mainWindow);
        restoreWindowPlace(cellsWindow, settings->healthGeometry());
        cellsWindow->installEventFilter(this);
        if (!livePort.isEmpty())
            cellsWindow->showLive(livePort, liveHealth());
    }
    return cellsWindow;
}

void WindowHealth::showSource(const QString &recording)
{
    ensureWindow()->choose(recording);
    showWindow();
}

void WindowHealth::showWindow()
{
    ensureWindow()->show();
    cellsWindow->raise();
    cellsWindow->activateWindow();
}

void WindowHealth::takeRecording(const QString &path)
{
    ensureWindow()->addRecording(path);
    // A recording opened again is read again: it may have grown since.
    delete readings.take(path);
    auto *reading = new RecordingHealth(path);
    readings.insert(path, reading);
    connect(reading, &RecordingHealth::finished, this, [this, reading] { recordingRead(reading); });
    reading->start();
}

void WindowHealth::recordingRead(RecordingHealth *reading)
{
    if (!reading->health().isEmpty())
        cellsWindow->showRecording(reading->path(), reading->health());
    else
        cellsWindow->recordingFailed(reading->path(), reading->error());
    readings.remove(reading->path());
    reading->deleteLater();
}

void WindowHealth::rememberPlace()
{
    if (cellsWindow && cellsWindow->isVisible())
        settings->setHealthGeometry(cellsWindow->saveGeometry());
}

bool WindowHealth::eventFilter(QObject *watched, QEvent *event)
{
    // A cells window the technician closed: where it was is where the next opens.
    if (watched == cellsWindow && event->type() == QEvent::Hide)
        settings->setHealthGeometry(cellsWindow->saveGeometry());
    return false;
}
