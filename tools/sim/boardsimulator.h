#pragma once

#include "commandreader.h"
#include "packmodel.h"
#include "wirefaults.h"

#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <functional>

class QIODevice;
class QTimer;

struct SimulatorSettings
{
    int intervalMs = 1000;
    bool onPoll = false;  // frames only in answer to poll requests
    int wakeAfterMs = -1; // below 0: a board that was switched off stays off
    int frameLimit = 0;   // 0: no limit
};

// The I/O around a PackModel: a clock that lets the pack's time pass, frames out
// on the line with the faults asked for, command frames in.
//
// Everything the board writes goes through one queue of pieces, each with the
// silence the line keeps before it, so that a split frame, a text burst and the
// next frame never overlap, and text always stands apart from frames by a gap
// the tool cannot mistake for a pause inside a frame.
class BoardSimulator : public QObject
{
    Q_OBJECT

public:
    // Silence around a text burst: twice the 30 ms after which the tool takes
    // what it has received as one chunk.
    static constexpr int TextGapMs = 60;
    // Silence kept between any two bursts, frames included: a frame held back
    // behind text must not run into the next one.
    static constexpr int BurstGapMs = 50;
    // Time left for the tool to read the last frames before the simulator exits.
    static constexpr int DrainMs = 300;

    BoardSimulator(QIODevice *line, const PackSettings &pack, const WireFaultSettings &faults,
                   const SimulatorSettings &settings, QObject *parent = nullptr);

    // listening tells whether the tool has the line open; the pack's faults count their
    // seconds from the first time it has (at once when it is not given).
    void start(std::function<bool()> listening = {});

signals:
    // The last byte of a frame, of its pieces or of a text line is on the line.
    void burstWritten();
    void finished(int exitCode);

private:
    void tick();
    void readCommands();
    void react(const BoardReaction &reaction);
    void sendTelemetry();
    void sendText(const QByteArray &text);
    void enqueue(const QVector<LinePiece> &burst, bool isText, int frames);
    void writeNext();
    void finishIfDone();
    void startFaultClockOnceListened();

    struct QueuedPiece
    {
        LinePiece piece;
        int framesCompleted = 0; // frames whose last byte this piece carries
        bool startsBurst = false;
        bool endsBurst = false;
    };

    QIODevice *line;
    PackModel model;
    WireFaults faults;
    SimulatorSettings settings;
    CommandReader reader;
    std::function<bool()> listening;
    bool faultClockStarted = false;

    QTimer *clock;
    QTimer *writeTimer;
    QTimer *wakeTimer;
    QQueue<QueuedPiece> queue;
    QElapsedTimer sinceLastWrite;
    int gapAfterLastBurst = 0;
    bool frameDue = false;
    int framesSent = 0;
    int framesQueued = 0;
    bool finishing = false;
};
