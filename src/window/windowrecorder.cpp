#include "window/windowrecorder.h"

#include "protocol/recordwriter.h"
#include "protocol/telemetryrecord.h"

#include <QFile>
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
    flushTimer->start();
    return true;
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
    QString reason;
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

void WindowRecorder::flush()
{
    if (!d->writer || d->writer->flush())
        return;
    emit failed(closeFile());
}
