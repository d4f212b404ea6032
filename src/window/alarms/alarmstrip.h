#pragma once

#include "judge/judgeevent.h"
#include "protocol/telemetry.h"

#include <QLabel>
#include <QStringList>
#include <QVector>
#include <optional>

// Every alarm raised now, in large white letters on red along the bottom of the main
// window, below its form: what a technician sees from across the bench, where the pale
// marks of the value fields are not. Hidden while nothing is raised; the window is as
// tall as its form then, and grows by the strip's height while it shows.
//
// Each alarm's value follows the newest frame. The strip turns grey with the value
// fields while they are not live, and a click on it asks for the events window.
class AlarmStrip : public QLabel
{
    Q_OBJECT

public:
    // Made once the window has the size of its form; the strip lies just below it.
    explicit AlarmStrip(QWidget *window);

    // The raising events of the alarms raised now, oldest first.
    void setAlarms(const QVector<JudgeEvent> &raised);
    // A good frame has just been shown.
    void frameShown(const Telemetry &telemetry);
    void setStale(bool stale);

    // One text per alarm raised now, oldest first: "cell 2 2700 mV < 2800".
    const QStringList &items() const { return shownItems; }

signals:
    void itemsChanged(const QStringList &items);
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void refresh();
    void paintBackground();
    void fitWindow();

    QWidget *window;
    QSize formSize;
    QVector<JudgeEvent> raised;
    std::optional<Telemetry> newest;
    QStringList shownItems;
    bool stale = true;
    int shownHeight = 0;
};
