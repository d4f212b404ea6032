#pragma once

#include "judge/judgeevent.h"
#include "judge/limits.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <array>

class QCPAxis;
class QCPAxisRect;
class QCPItemStraightLine;
class QCPItemText;
class QCustomPlot;
class QPoint;

// What the judge adds to the trends' plots: each limit as a line on the plot of its
// values, labelled at its right end ("cell max 4250 mV"), and each event as a small
// mark on the time axis of every plot: red for an alarm raised, green for one cleared,
// grey for the rest (link, states, flags that fail no check). Hovering over a mark
// tells its time and text; over a limit line, its key and value.
//
// The cells' plot takes the cell limits (mV); the current's, the current limits (mA,
// discharge below zero), dashed red, and the SOC minimum on its right axis (%), dotted
// in the SOC line's colour; the temperatures', the temperature limits (°C). The pack
// voltage and the spread are plotted nowhere, so their limits get no line.
class TrendsAnnotations : public QObject
{
    Q_OBJECT

public:
    TrendsAnnotations(QCustomPlot *plot, QCPAxisRect *cellRect, QCPAxisRect *currentRect,
                      QCPAxisRect *temperatureRect);

    // Replaces the limit lines; Limits() takes them all away.
    void setLimits(const Limits &limits);
    void addEvents(const QVector<JudgeEvent> &events);

    // What hovering at pos (in the plot's coordinates) tells; empty over neither a mark
    // nor a limit line.
    QString toolTipAt(const QPoint &pos) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static constexpr int MarkKinds = 3;
    struct Mark
    {
        double key; // seconds since the epoch, as the plot's time axis counts
        QString text;
        int kind; // 0 an alarm raised, 1 one cleared, 2 any other event
    };
    class MarkStrip;
    struct LimitLine
    {
        QCPItemStraightLine *line;
        QCPItemText *label;
        QCPAxis *valueAxis;
        double value;
        QString text;
    };
    // sign -1 draws the file's positive discharge limit below zero.
    void addLimitLine(QCPAxisRect *rect, QCPAxis *valueAxis, Limit limit, double fileValue,
                      double sign);
    QStringList marksNear(const QCPAxisRect *rect, int x) const;

    QCustomPlot *plot;
    std::array<QCPAxisRect *, 3> rects;
    QVector<LimitLine> limitLines;
    QVector<Mark> marks; // by time
};
