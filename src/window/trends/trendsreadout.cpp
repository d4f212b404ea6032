#include "window/trends/trendsreadout.h"

#include "plot/trendstore.h"
#include "protocol/displaytext.h"

#include <QDateTime>
#include <cmath>

namespace {

QString millivolts(double value)
{
    return DisplayText::unsignedDecimal(quint32(value));
}

// Over more than a day a time needs its date.
QString timeText(const TrendStore &store, qint64 ms, bool seconds)
{
    const bool days = store.newestMs() - store.firstMs() > 24 * 3600 * 1000;
    QString format = seconds ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    if (days)
        format.prepend(QStringLiteral("d MMM "));
    return QDateTime::fromMSecsSinceEpoch(ms).toString(format);
}

} // namespace

TrendsReadout::TrendsReadout(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("readout"));
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Its text changes with every redraw; its width must not change the window's
    // minimum size each time.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setText(tr("No frames yet."));
}

void TrendsReadout::showNewest(const TrendStore &store)
{
    if (const TrendStore::Frame *frame = store.newestFrame())
        showAt(store, double(frame->timeMs) / 1000.0, 0);
    else
        setText(tr("No frames yet."));
}

double TrendsReadout::showAt(const TrendStore &store, double key, int level)
{
    const qint64 ms = qint64(std::llround(key * 1000));
    int lowestCell = -1, highestCell = -1;
    double lowest = 0, highest = 0;
    const auto consider = [&](int cell, double low, double high) {
        if (lowestCell < 0 || low < lowest) {
            lowest = low;
            lowestCell = cell;
        }
        if (highestCell < 0 || high > highest) {
            highest = high;
            highestCell = cell;
        }
    };

    if (const TrendStore::Frame *frame = store.nearestFrame(ms)) {
        for (int cell = 0; cell < frame->cellCount; ++cell)
            consider(cell, frame->value(cell), frame->value(cell));
        if (lowestCell < 0) {
            setText(tr("No cells in this frame."));
            return double(frame->timeMs) / 1000.0;
        }
        const QString time = timeText(store, frame->timeMs, true);
        const bool newest = frame == store.newestFrame();
        setText(tr("%1   lowest: cell %2, %3 mV   highest: cell %4, %5 mV   spread: %6 mV")
                    .arg(newest ? tr("Newest frame %1").arg(time) : tr("At %1").arg(time))
                    .arg(lowestCell + 1)
                    .arg(millivolts(lowest))
                    .arg(highestCell + 1)
                    .arg(millivolts(highest))
                    .arg(millivolts(highest - lowest)));
        return double(frame->timeMs) / 1000.0;
    }

    int found = 0;
    const TrendStore::Summary *summary = store.nearestSummary(level, ms, &found);
    if (!summary) {
        setText(tr("No frames yet."));
        return key;
    }
    for (int cell = 0; cell < TrendStore::MaxCells; ++cell)
        if (summary->carries(cell))
            consider(cell, summary->minimum(cell), summary->maximum(cell));
    if (lowestCell < 0) {
        setText(tr("No cells in these frames."));
        return double(summary->middleMs()) / 1000.0;
    }
    const qint64 start = TrendStore::intervalStartMs(found, summary->firstMs);
    const bool seconds = TrendStore::intervalMs(found) < 60 * 1000;
    const QString span =
        tr("%1–%2").arg(timeText(store, start, seconds),
                        timeText(store, start + TrendStore::intervalMs(found), seconds)
                            .section(QLatin1Char(' '), -1));
    // Only each interval's extremes are kept this far back: no single frame, so no
    // spread either.
    const QString frames =
        summary->frames == 1
            ? tr("over 1 frame (only its extremes are kept)")
            : tr("over %1 frames (only their extremes are kept)").arg(summary->frames);
    setText(tr("%1   lowest: cell %2, %3 mV   highest: cell %4, %5 mV   %6")
                .arg(span)
                .arg(lowestCell + 1)
                .arg(millivolts(lowest))
                .arg(highestCell + 1)
                .arg(millivolts(highest))
                .arg(frames));
    return double(summary->middleMs()) / 1000.0;
}
