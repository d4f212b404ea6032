#include "window/recordingloader.h"

#include "protocol/recordreader.h"
#include "protocol/telemetryrecord.h"

#include <QFile>
#include <QThread>

namespace {

// Checking for a cancel and telling the progress every so many frames costs nothing
// that shows and answers a Cancel within a millisecond or two.
constexpr qint64 CheckEvery = 1024;

} // namespace

RecordingLoader::RecordingLoader(QObject *parent) : QObject(parent) {}

RecordingLoader::~RecordingLoader()
{
    if (!thread)
        return;
    cancel();
    thread->wait();
    delete thread;
}

void RecordingLoader::start(const QString &path, const TrendStore::Limits &limits)
{
    if (thread)
        return;
    cancelRequested = false;
    progress = 0;
    result = Result();
    thread = QThread::create(
        [this, path, limits] { result = read(path, limits, cancelRequested, &progress); });
    thread->setObjectName(QStringLiteral("recording reader"));
    // Queued to this object's thread: result is the worker's until the thread ends.
    connect(thread, &QThread::finished, this, [this] {
        thread->wait();
        delete thread;
        thread = nullptr;
        emit finished();
    });
    thread->start(QThread::LowPriority);
}

void RecordingLoader::cancel()
{
    cancelRequested = true;
}

RecordingLoader::Result RecordingLoader::read(const QString &path, const TrendStore::Limits &limits,
                                              const std::atomic<bool> &cancelled,
                                              std::atomic<int> *permille)
{
    Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = tr("Cannot open %1: %2").arg(path, file.errorString());
        return result;
    }
    // A recording still being written grows while it is read: the progress goes by
    // the size it had at the start.
    const qint64 size = std::max<qint64>(1, file.size());
    auto store = std::make_unique<TrendStore>(limits);
    RecordReader reader(&file);
    TelemetryRecord record;
    bool lastLineCutShort = false;
    while (reader.next(&record)) {
        store->add(record.timeMs, record.telemetry);
        if (++result.frames % CheckEvery)
            continue;
        if (cancelled) {
            result.cancelled = true;
            return result;
        }
        if (permille)
            *permille = int(std::min<qint64>(1000, file.pos() * 1000 / size));
    }
    if (cancelled) {
        result.cancelled = true;
        return result;
    }
    if (reader.hasError()) {
        result.error = tr("Cannot read %1: %2").arg(path, reader.errorString());
        return result;
    }
    if (result.frames == 0) {
        result.error = tr("%1 holds no frames.").arg(path);
        return result;
    }
    // A recording cut short (a process killed, a power cut, or a file still being
    // written) ends in part of a line; the reader keeps the whole lines before it
    // and tells so. Set lastLineCutShort from the reader here once it does.
    if (lastLineCutShort)
        result.notice = tr("The last line is cut short: %n frame(s) read.", nullptr,
                           int(std::min<qint64>(result.frames, std::numeric_limits<int>::max())));
    result.store = std::move(store);
    return result;
}
