#include "window/windowrecorder.h"

#include "judge/judgeevent.h"
#include "protocol/telemetryrecord.h"
#include "record/linefilewriter.h"
#include "record/recordwriter.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <csignal>

namespace {
// Rows reach the file once a second, as keldro-cli's do: a crash loses at most that
// much, and the window does not write for each of ten frames a second. The writer
// syncs them onto the disk every ten seconds and at the end.
constexpr int FlushIntervalMs = 1000;
} // namespace

class WindowRecorder::Private
{
public:
    QFile file;
    std::unique_ptr<RecordWriter> writer;
    QFile eventsFile;
    std::unique_ptr<LineFileWriter> events;
    bool keepEvents = false;
    bool eventsStarted = false; // this recording has opened its events file before
};

WindowRecorder::WindowRecorder(QObject *parent)
    : QObject(parent), d(new Private), flushTimer(new QTimer(this))
{
    flushTimer->setInterval(FlushIntervalMs);
    connect(flushTimer, &QTimer::timeout, this, &WindowRecorder::flush);
}

WindowRecorder::~WindowRecorder()
{
    closeFile();
}

bool WindowRecorder::start(const QString &path, QString *error)
{
    stop();
    // A file that reaches the size limit (ulimit -f) then fails the write with EFBIG and
    // is cut back to its last whole row, instead of the signal killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
    // Any name but a JSON Lines one gets CSV, the format the dialog proposes.
    const RecordFormat format = recordFormatForPath(path).value_or(RecordFormat::Csv);
    d->file.setFileName(path);
    if (!d->file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = tr("%1 cannot be written: %2").arg(path, d->file.errorString());
        return false;
    }
    d->writer = std::make_unique<RecordWriter>(&d->file, format);
    d->writer->writeHeader();
    // The header at once: a file that gets no row still says what it is.
    if (!d->writer->flush()) {
        if (error)
            *error = tr("%1 cannot be written: %2").arg(path, d->writer->errorString());
        d->writer.reset();
        d->file.close();
        return false;
    }
    d->eventsStarted = false;
    if (d->keepEvents && !openEventsFile(error)) {
        closeFile();
        return false;
    }
    flushTimer->start();
    return true;
}

QString WindowRecorder::eventsPathFor(const QString &recordingPath)
{
    if (!recordFormatForPath(recordingPath))
        return recordingPath + QStringLiteral(".events.jsonl");
    const QString suffix = QFileInfo(recordingPath).suffix();
    return recordingPath.left(recordingPath.size() - suffix.size()) +
           QStringLiteral("events.jsonl");
}

void WindowRecorder::setKeepEvents(bool keep)
{
    d->keepEvents = keep;
    if (!isRecording() || keep == d->eventsFile.isOpen())
        return;
    QString reason;
    if (keep)
        openEventsFile(&reason);
    else
        reason = closeEventsFile();
    if (!reason.isEmpty())
        fail(reason);
}

bool WindowRecorder::openEventsFile(QString *error)
{
    d->eventsFile.setFileName(eventsPathFor(d->file.fileName()));
    // A recording's events file starts empty; opened again in the same recording (the
    // limits loaded once more), it goes on below the events it has.
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | (d->eventsStarted ? QIODevice::Append : QIODevice::Truncate);
    if (!d->eventsFile.open(mode)) {
        if (error)
            *error = tr("%1 cannot be written: %2")
                         .arg(d->eventsFile.fileName(), d->eventsFile.errorString());
        return false;
    }
    d->events = std::make_unique<LineFileWriter>(&d->eventsFile);
    d->eventsStarted = true;
    return true;
}

QString WindowRecorder::closeEventsFile()
{
    if (!d->eventsFile.isOpen())
        return QString();
    QString reason;
    if (!d->events->sync())
        reason =
            tr("%1 cannot be written: %2").arg(d->eventsFile.fileName(), d->events->errorString());
    d->events.reset();
    d->eventsFile.close();
    return reason;
}

void WindowRecorder::fail(const QString &reason)
{
    closeFile();
    emit failed(reason);
}

void WindowRecorder::stop()
{
    const QString reason = closeFile();
    if (!reason.isEmpty())
        emit failed(reason);
}

QString WindowRecorder::closeFile()
{
    if (!d->writer)
        return QString();
    flushTimer->stop();
    QString reason = closeEventsFile();
    if (!d->writer->sync())
        reason = tr("%1 cannot be written: %2").arg(d->file.fileName(), d->writer->errorString());
    d->writer.reset();
    d->file.close();
    return reason;
}

bool WindowRecorder::isRecording() const
{
    return d->writer != nullptr;
}

QString WindowRecorder::path() const
{
    return isRecording() ? d->file.fileName() : QString();
}

void WindowRecorder::addRecord(const TelemetryRecord &record)
{
    if (d->writer)
        d->writer->write(record);
}

// Events are few: each reaches the file at once, whole lines, and the disk as the rows do.
void WindowRecorder::addEvents(const QVector<JudgeEvent> &events)
{
    if (!d->events)
        return;
    for (const JudgeEvent &event : events)
        d->events->pending().append(event.toJson()).append('\n');
    if (!d->events->flush())
        fail(
            tr("%1 cannot be written: %2").arg(d->eventsFile.fileName(), d->events->errorString()));
}

void WindowRecorder::flush()
{
    if (!d->writer || d->writer->flush())
        return;
    emit failed(closeFile());
}
