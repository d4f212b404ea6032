#include "recorder.h"

#include "boardjudges.h"
#include "boardlink.h"
#include "console.h"
#include "exitstatus.h"
#include "mqttfeed.h"
#include "protocol/cellbalance.h"
#include "serial/serialenumerator.h"

#include <QDateTime>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <unistd.h>

namespace {
// A killed recorder loses at most this much of its rows; a power cut at most the
// writer's sync interval.
constexpr int FlushIntervalMs = 1000;
// The status line is redrawn at most four times a second.
constexpr int StatusIntervalMs = 250;
// How long the end of a run waits for the broker to take what is queued.
constexpr int FeedFinishMs = 3000;

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

QString clock(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString timeText(qint64 utcMs)
{
    QByteArray time;
    appendRecordTime(time, utcMs);
    return QString::fromLatin1(time);
}
} // namespace

Recorder::Recorder(const RecordSettings &settings, QFile *rows, const QString &rowsName,
                   QFile *text, QObject *parent)
    : QObject(parent), settings(settings), rows(rows), rowsName(rowsName), text(text),
      writer(rows, settings.format), flushEachRow(rows && rows->isSequential()),
      flushTimer(new QTimer(this)), statusTimer(new QTimer(this)), durationTimer(new QTimer(this))
{
    if (text)
        textLines.emplace(text);
    for (const PortTarget &target : settings.ports) {
        auto *link = new BoardLink(target, settings.baudRate, settings.poll, this);
        connect(link, &BoardLink::frameAccepted, this, &Recorder::writeRow);
        connect(
            link, &BoardLink::textLine, this,
            [this, link](qint64 timeMs, const QByteArray &line) { writeText(link, timeMs, line); });
        connect(link, &BoardLink::lost, this, [this, link](const QString &reason) {
            if (feed)
                feed->setPortOpen(link->target().name, false);
            if (judges)
                judges->linkLost(link->target().name, reason);
            Console::error(QStringLiteral("%1 lost at %2 (%3)")
                               .arg(link->target().name,
                                    timeText(QDateTime::currentMSecsSinceEpoch()), reason) +
                           (this->settings.reconnect
                                ? QStringLiteral("; recording it again when it is back")
                                : QString()));
            if (!this->settings.reconnect)
                finish(LinkFailed);
        });
        connect(link, &BoardLink::returned, this, [this, link](qint64 gapMs) {
            if (feed)
                feed->setPortOpen(link->target().name, true);
            if (judges)
                judges->linkOpened(link->target().name);
            Console::error(QStringLiteral("%1 back after a gap of %2")
                               .arg(link->target().name, seconds(gapMs)));
        });
        links.append(link);
    }
    flushTimer->setInterval(FlushIntervalMs);
    connect(flushTimer, &QTimer::timeout, this, &Recorder::flushRows);
    statusTimer->setInterval(StatusIntervalMs);
    connect(statusTimer, &QTimer::timeout, this, &Recorder::showStatus);
    durationTimer->setSingleShot(true);
    // A coarse timer may fire 5 % early: a check of 60 s would judge 57.
    durationTimer->setTimerType(Qt::PreciseTimer);
    connect(durationTimer, &QTimer::timeout, this, [this] { finish(Done); });
}

Recorder::~Recorder() = default;

void Recorder::setJudges(BoardJudges *boardJudges)
{
    judges = boardJudges;
    connect(judges, &BoardJudges::outputFailed, this, [this](const QString &message) {
        if (done)
            return;
        Console::error(message);
        failureMessage = message;
        finish(LinkFailed);
    });
}

bool Recorder::start(QString *failure)
{
    for (BoardLink *link : qAsConst(links)) {
        if (link->open())
            continue;
        Console::error(link->openFailure());
        if (failure)
            *failure = link->openFailure();
        for (BoardLink *opened : qAsConst(links))
            opened->close();
        return false;
    }
    running.start();
    for (const BoardLink *link : qAsConst(links)) {
        if (feed)
            feed->setPortOpen(link->target().name, true);
        if (judges)
            judges->linkOpened(link->target().name);
    }
    // An events file that took not even the first event has ended the run already.
    if (done)
        return true;
    // The ports are open: now a named file's earlier contents go. Standard output is
    // left as the shell opened it: ">>" appends, below the header the file has.
    if (rows && !rows->fileName().isEmpty() && !rows->isSequential()) {
        rows->resize(0);
        rows->seek(0);
    }
    if (rows)
        writer.writeHeader();
    if (settings.reconnect) {
        // udev announces a port that is back before the path poll would find it.
        enumerator = new SerialEnumerator(this);
        connect(enumerator, &SerialEnumerator::deviceDiscovered, this, [this] {
            for (BoardLink *link : qAsConst(links))
                link->reconnect();
        });
        enumerator->setUpNotifications();
    }
    // The header at once: a file that gets no row still says what it is.
    flushRows();
    if (rows && !flushEachRow)
        flushTimer->start();
    // Rows on the same terminal would run into the status line; they show the
    // progress themselves there.
    const bool rowsOnTerminal = rows && rows->handle() >= 0 && isatty(rows->handle());
    if (Console::isTerminal() && !rowsOnTerminal)
        statusTimer->start();
    if (settings.durationMs > 0)
        durationTimer->start(int(std::min<qint64>(settings.durationMs, INT_MAX)));
    return true;
}

void Recorder::writeRow(const TelemetryRecord &record)
{
    if (settings.count > 0 && rowsTaken >= settings.count)
        return;
    if (rows)
        writer.write(record);
    if (feed)
        feed->publishFrame(record);
    if (judges)
        judges->judgeFrame(record);
    emit frameTaken(record);
    ++rowsTaken;
    lastRecord = record;
    if (flushEachRow && !done)
        flushRows();
    // Not from inside the port's own signal: the ports close on the way out.
    if (settings.count > 0 && rowsTaken == settings.count)
        QMetaObject::invokeMethod(
            this, [this] { finish(Done); }, Qt::QueuedConnection);
}

void Recorder::writeText(const BoardLink *link, qint64 timeMs, const QByteArray &line)
{
    if (feed)
        feed->publishText(link->target().name, line);
    const QByteArray entry =
        timeText(timeMs).toLatin1() + ' ' + link->target().name.toUtf8() + ' ' + line + '\n';
    if (!text) {
        Console::line(QString::fromUtf8(entry.chopped(1)));
        return;
    }
    textLines->append(entry);
    if (!textLines->flush() && !done) {
        Console::error(textFailure());
        finish(LinkFailed);
    }
}

QString Recorder::textFailure() const
{
    return QStringLiteral("writing %1 failed: %2; it holds every line up to the last whole one")
        .arg(text->fileName(), textLines->errorString());
}

bool Recorder::flushRows()
{
    if (!rows)
        return true;
    if (writer.flush())
        return true;
    finish(outputFailure());
    return false;
}

int Recorder::outputFailure() const
{
    // The reader of a pipe (head, a jq that was stopped) has had enough: an ordinary end.
    if (writer.errorNumber() == EPIPE)
        return Done;
    Console::error(QStringLiteral("writing %1 failed: %2; it holds every row up to the last "
                                  "whole one")
                       .arg(rowsName, writer.errorString()));
    return LinkFailed;
}

void Recorder::showStatus()
{
    QStringList ports;
    BoardLink::Counts total;
    for (const BoardLink *link : qAsConst(links)) {
        const BoardLink::Counts &c = link->counts();
        total.frames += c.frames;
        total.rejected += c.rejected;
        total.textLines += c.textLines;
        ports << QStringLiteral("%1 %2 ok %3 bad%4")
                     .arg(link->target().name)
                     .arg(c.frames)
                     .arg(c.rejected)
                     .arg(link->isOpen() ? QString() : QStringLiteral(" (gone)"));
    }
    QString cells;
    if (const CellBalance balance = cellBalance(lastRecord.telemetry); balance.isValid()) {
        cells = QStringLiteral(" | cells %1-%2 mV spread %3")
                    .arg(balance.lowestMillivolts)
                    .arg(balance.highestMillivolts)
                    .arg(balance.spreadMillivolts());
    }
    const QString lastPort = links.size() > 1 && !cells.isEmpty()
                                 ? QStringLiteral(" (%1)").arg(lastRecord.port)
                                 : QString();
    const QString totals = QStringLiteral("%1 ports: %2 ok %3 bad")
                               .arg(links.size())
                               .arg(total.frames)
                               .arg(total.rejected);
    const QString head = clock(running.elapsed()) + QStringLiteral(" | ");
    const QString text = QStringLiteral(" | text %1").arg(total.textLines);
    // Each port on its own where the terminal is wide enough, else the sums.
    const int width = Console::terminalColumns() - 1;
    QString line;
    for (const QString &candidate :
         {head + ports.join(QStringLiteral(", ")) + text + cells + lastPort,
          head + totals + text + cells + lastPort, head + totals + text + cells}) {
        line = candidate;
        if (line.size() <= width)
            break;
    }
    Console::showStatus(line.left(width));
}

QString Recorder::summary() const
{
    QStringList lines;
    if (rows)
        lines << QStringLiteral("keldro-cli: %1 rows in %2 to %3")
                     .arg(writer.rowsWritten())
                     .arg(seconds(running.elapsed()), rowsName);
    else
        lines << QStringLiteral("keldro-cli: %1 frames in %2%3")
                     .arg(rowsTaken)
                     .arg(seconds(running.elapsed()),
                          feed ? QStringLiteral(", published only") : QString());
    for (const BoardLink *link : qAsConst(links)) {
        const BoardLink::Counts &c = link->counts();
        QString line = QStringLiteral("  %1: %2 frames, %3 rejected, %4 text bytes in %5 lines")
                           .arg(link->target().name)
                           .arg(c.frames)
                           .arg(c.rejected)
                           .arg(c.textBytes)
                           .arg(c.textLines);
        if (c.gaps > 0)
            line += QStringLiteral(", %1 gaps of %2 in all").arg(c.gaps).arg(seconds(c.gapMs));
        lines << line;
    }
    if (feed)
        lines << feed->summary();
    return lines.join(QLatin1Char('\n'));
}

void Recorder::finish(int status)
{
    if (done)
        return;
    done = true;
    flushTimer->stop();
    statusTimer->stop();
    durationTimer->stop();
    for (BoardLink *link : qAsConst(links))
        link->close();
    // After the frames the ports still held.
    if (judges) {
        if (const QString failure = judges->stop(); !failure.isEmpty()) {
            Console::error(failure);
            failureMessage = failure;
            status = std::max(status, int(LinkFailed));
        }
    }
    if (rows) {
        if (writer.errorString().isEmpty() && !writer.sync())
            status = std::max(status, outputFailure());
        rows->close();
    }
    if (text) {
        if (textLines->errorString().isEmpty() && !textLines->sync()) {
            Console::error(textFailure());
            status = std::max(status, int(LinkFailed));
        }
        text->close();
    }
    // The file is whole by now; the broker gets a few seconds for what still waits.
    if (feed) {
        connect(feed, &MqttFeed::finished, this, [this, status] { end(status); });
        feed->finish(FeedFinishMs);
        return;
    }
    end(status);
}

void Recorder::end(int status)
{
    Console::clearStatus();
    Console::line(summary());
    emit finished(status);
}
