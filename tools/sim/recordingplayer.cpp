#include "recordingplayer.h"

#include "boardsimulator.h"
#include "protocol/telemetryframe.h"

#include <QIODevice>
#include <QTimer>

namespace {
// How often a player waiting for the tool looks whether the port has been opened.
constexpr int ReadyCheckMs = 20;
} // namespace

RecordingPlayer::RecordingPlayer(QIODevice *line, const QVector<TelemetryRecord> &records,
                                 int intervalMs, QObject *parent)
    : QObject(parent), line(line), records(records), intervalMs(intervalMs), timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &RecordingPlayer::playNext);
}

void RecordingPlayer::start(std::function<bool()> ready)
{
    if (!ready()) {
        QTimer::singleShot(ReadyCheckMs, this, [this, ready] { start(ready); });
        return;
    }
    clock.start();
    firstTimeMs = records.isEmpty() ? 0 : records.first().timeMs;
    playNext();
}

void RecordingPlayer::playNext()
{
    // Each frame at its time from the start, not from the frame before, so that the
    // timer's lateness does not add up over a long recording.
    while (next < records.size()) {
        const qint64 due =
            intervalMs >= 0 ? qint64(next) * intervalMs : records.at(next).timeMs - firstTimeMs;
        const qint64 wait = due - clock.elapsed();
        if (wait > 0) {
            timer->start(int(qMin<qint64>(wait, 24 * 3600 * 1000)));
            return;
        }
        line->write(encodeTelemetry(records.at(next).telemetry));
        emit burstWritten();
        ++next;
    }
    QTimer::singleShot(BoardSimulator::DrainMs, this, [this] { emit finished(0); });
}
