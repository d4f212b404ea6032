#pragma once

#include "protocol/telemetryrecord.h"

#include <QElapsedTimer>
#include <QObject>
#include <QVector>
#include <functional>

class QIODevice;
class QTimer;

// Plays a recording back as the frames a board would send, one by one at the
// recorded spacing or at a fixed interval, then finishes. Rows of every port go
// out on the one line, in the order of the recording.
class RecordingPlayer : public QObject
{
    Q_OBJECT

public:
    // intervalMs below 0: the spacing of the recorded times.
    RecordingPlayer(QIODevice *line, const QVector<TelemetryRecord> &records, int intervalMs,
                    QObject *parent = nullptr);

    // Playing starts once ready() is true, so that a recording opened in the
    // simulator before the tool has opened its port is not lost to nobody.
    void start(std::function<bool()> ready);

signals:
    void burstWritten();
    void finished(int exitCode);

private:
    void playNext();

    QIODevice *line;
    QVector<TelemetryRecord> records;
    int intervalMs;
    int next = 0;
    QTimer *timer;
    QElapsedTimer clock;
    qint64 firstTimeMs = 0;
};
