#include "window/health/recordinghealth.h"

#include "judge/boardshealth.h"
#include "protocol/telemetryrecord.h"
#include "record/recordreader.h"

#include <QFile>
#include <QThread>

RecordingHealth::RecordingHealth(const QString &path, QObject *parent)
    : QObject(parent), recordingPath(path)
{}

RecordingHealth::~RecordingHealth()
{
    if (!thread)
        return;
    cancelRequested = true;
    thread->wait();
    delete thread;
}

void RecordingHealth::start()
{
    if (thread)
        return;
    thread = QThread::create([this] { result = read(recordingPath, cancelRequested, &failure); });
    thread->setObjectName(QStringLiteral("health reader"));
    // Queued to this object's thread: result and failure are the worker's until it ends.
    connect(thread, &QThread::finished, this, [this] {
        thread->wait();
        delete thread;
        thread = nullptr;
        emit finished();
    });
    thread->start();
}

RecordingHealth::Results RecordingHealth::read(const QString &path,
                                               const std::atomic<bool> &cancelled, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("Cannot open %1: %2").arg(path, file.errorString());
        return {};
    }
    BoardsHealth boards;
    RecordReader reader(&file);
    TelemetryRecord record;
    qint64 frames = 0;
    while (reader.next(&record)) {
        boards.add(record);
        // A cancel is answered within a millisecond or two.
        if (++frames % 1024 == 0 && cancelled)
            return {};
    }
    if (reader.hasError()) {
        *error = tr("Cannot read %1: %2").arg(path, reader.errorString());
        return {};
    }
    return boards.results(path);
}
