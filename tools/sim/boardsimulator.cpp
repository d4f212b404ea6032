#include "boardsimulator.h"

#include "protocol/telemetryframe.h"

#include <QIODevice>
#include <QSerialPort>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace {
void logLine(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}
} // namespace

BoardSimulator::BoardSimulator(QIODevice *line, const PackSettings &pack,
                               const WireFaultSettings &faults, const SimulatorSettings &settings,
                               QObject *parent)
    : QObject(parent), line(line), model(pack), faults(faults), settings(settings),
      clock(new QTimer(this)), writeTimer(new QTimer(this)), wakeTimer(new QTimer(this))
{
    clock->setInterval(settings.intervalMs);
    clock->setTimerType(Qt::PreciseTimer);
    connect(clock, &QTimer::timeout, this, &BoardSimulator::tick);
    writeTimer->setSingleShot(true);
    writeTimer->setTimerType(Qt::PreciseTimer);
    connect(writeTimer, &QTimer::timeout, this, &BoardSimulator::writeNext);
    wakeTimer->setSingleShot(true);
    connect(wakeTimer, &QTimer::timeout, this, [this] {
        model.wake();
        logLine(QStringLiteral("wake"));
    });
    connect(line, &QIODevice::readyRead, this, &BoardSimulator::readCommands);
    sinceLastWrite.start();
}

void BoardSimulator::start(std::function<bool()> listeningNow)
{
    listening = std::move(listeningNow);
    startFaultClockOnceListened();
    clock->start();
    if (!settings.onPoll)
        sendTelemetry();
}

void BoardSimulator::tick()
{
    // The pack's time runs by the nominal interval, not the wall clock, so that a
    // seeded run gives the same values however busy the machine is.
    const QByteArray text = model.advance(settings.intervalMs);
    startFaultClockOnceListened();
    if (!text.isEmpty())
        sendText(text);
    if (!settings.onPoll && model.isSending())
        sendTelemetry();
}

void BoardSimulator::startFaultClockOnceListened()
{
    if (faultClockStarted || (listening && !listening()))
        return;
    faultClockStarted = true;
    model.startFaultClock();
}

void BoardSimulator::readCommands()
{
    const QVector<ReceivedCommand> received = reader.feed(line->readAll());
    for (const ReceivedCommand &command : received) {
        if (!command.checkWordMatches) {
            logLine(QStringLiteral("bad check word"));
            continue;
        }
        const bool wasOn = model.isPoweredOn();
        const BoardReaction reaction = model.apply(command.command);
        logLine(reaction.logLine);
        if (wasOn && !model.isPoweredOn()) {
            // A board that switches off stops mid-sentence; what it did send of a
            // burst is all there will be of it.
            const bool midBurst = !queue.isEmpty() && !queue.head().startsBurst;
            queue.clear();
            framesQueued = 0;
            frameDue = false;
            if (midBurst)
                emit burstWritten();
            if (settings.wakeAfterMs >= 0)
                wakeTimer->start(settings.wakeAfterMs);
        }
        if (!reaction.reply.isEmpty())
            sendText(reaction.reply);
        if (reaction.frameRequested && settings.onPoll)
            sendTelemetry();
    }
}

void BoardSimulator::sendTelemetry()
{
    if (finishing)
        return;
    if (settings.frameLimit > 0 && framesSent + framesQueued >= settings.frameLimit)
        return;
    // One frame waiting is enough: a board whose UART is still busy with text does
    // not pile up telemetry behind it.
    if (!queue.isEmpty()) {
        frameDue = true;
        return;
    }
    const int frames = faults.mergeNext() ? 2 : 1;
    QByteArray burst;
    for (int i = 0; i < frames; ++i) {
        QByteArray frame = encodeTelemetry(model.telemetry());
        faults.corrupt(frame);
        burst += frame;
    }
    enqueue(faults.cut(burst), false, frames);
    if (faults.noiseNext())
        sendText(faults.noiseLine());
}

void BoardSimulator::sendText(const QByteArray &text)
{
    enqueue({LinePiece{text, 0}}, true, 0);
}

void BoardSimulator::enqueue(const QVector<LinePiece> &burst, bool isText, int frames)
{
    for (int i = 0; i < burst.size(); ++i) {
        const bool last = i == burst.size() - 1;
        QueuedPiece queued{burst.at(i), last ? frames : 0, i == 0, last};
        if (i == 0) {
            const int gap = isText ? TextGapMs : qMax(BurstGapMs, gapAfterLastBurst);
            queued.piece.pauseBeforeMs = qMax(queued.piece.pauseBeforeMs, gap);
        }
        queue.enqueue(queued);
    }
    framesQueued += frames;
    gapAfterLastBurst = isText ? TextGapMs : 0;
    if (!writeTimer->isActive())
        writeNext();
}

void BoardSimulator::writeNext()
{
    while (!queue.isEmpty()) {
        const int wait = queue.head().piece.pauseBeforeMs - int(sinceLastWrite.elapsed());
        if (wait > 0 && queue.head().startsBurst) {
            writeTimer->start(wait);
            return;
        }
        // The pauses inside a burst are slept through: a timer comes back through
        // the event loop, which on a busy machine can stretch a few milliseconds
        // past the 30 ms that make the tool take the pieces for separate chunks.
        if (wait > 0)
            QThread::msleep(ulong(wait));
        const QueuedPiece next = queue.dequeue();
        line->write(next.piece.bytes);
        // QSerialPort holds what it is given until its event loop turns; a piece
        // has to be on the wire before the pause that follows it.
        if (auto *port = qobject_cast<QSerialPort *>(line))
            port->flush();
        sinceLastWrite.restart();
        framesSent += next.framesCompleted;
        framesQueued -= next.framesCompleted;
        if (next.endsBurst)
            emit burstWritten();
    }
    if (frameDue) {
        frameDue = false;
        // The frame comes late; the next keeps a whole interval's distance, as
        // a board's send timer restarted by its UART would.
        if (!settings.onPoll)
            clock->start();
        sendTelemetry();
        return;
    }
    finishIfDone();
}

void BoardSimulator::finishIfDone()
{
    if (finishing || settings.frameLimit <= 0 || framesSent < settings.frameLimit)
        return;
    finishing = true;
    clock->stop();
    QTimer::singleShot(DrainMs, this, [this] { emit finished(0); });
}
