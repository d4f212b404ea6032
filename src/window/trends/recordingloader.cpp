#include "window/trends/recordingloader.h"

#include "protocol/telemetryrecord.h"
#include "record/recordformat.h"
#include "record/recordreader.h"

#include <QFile>
#include <QTimer>
#include <cstring>
#include <functional>

namespace {

// Telling the progress every so many frames costs nothing that shows. A Cancel is
// seen by the reader itself, before each block it reads.
constexpr qint64 CheckEvery = 1024;
// A recording this large is read in two halves at once, one on each core: parsing,
// not the disk, is what takes the time.
constexpr qint64 SplitFromBytes = 4 * 1024 * 1024;

// Part of a recording as a device of its own: bytes begin to end of the file, after
// a first line that stands in for the file's (the CSV header a reader starts from).
class FileSlice : public QIODevice
{
public:
    FileSlice(const QString &path, const QByteArray &head, qint64 begin, qint64 end)
        : file(path), head(head), begin(begin), end(end)
    {}

    bool openSlice()
    {
        return file.open(QIODevice::ReadOnly) && file.seek(begin) &&
               open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 fileBytesRead() const { return file.pos() - begin; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        qint64 copied = std::min<qint64>(maxSize, head.size() - headRead);
        std::memcpy(data, head.constData() + headRead, size_t(copied));
        headRead += copied;
        const qint64 wanted = std::min(maxSize - copied, end - file.pos());
        if (wanted <= 0)
            return copied;
        const qint64 read = file.read(data + copied, wanted);
        return read < 0 && copied == 0 ? -1 : copied + std::max<qint64>(read, 0);
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile file;
    QByteArray head;
    qint64 headRead = 0;
    qint64 begin;
    qint64 end;
};

// What one reader made of a recording or of a part of it.
struct Part
{
    std::unique_ptr<TrendStore> store;
    QString error;
    qint64 frames = 0;
    bool lastLineCutShort = false;
    bool cancelled = false;
};

class Progress
{
public:
    Progress(qint64 size, std::atomic<int> *permille)
        : size(std::max<qint64>(1, size)), permille(permille)
    {}

    void tell(int part, qint64 bytes)
    {
        bytesRead[part] = bytes;
        if (permille)
            *permille = int(std::min<qint64>(1000, (bytesRead[0] + bytesRead[1]) * 1000 / size));
    }

private:
    qint64 size;
    std::atomic<int> *permille;
    std::atomic<qint64> bytesRead[2] = {0, 0};
};

Part readPart(QIODevice *device, const std::function<qint64()> &position,
              const TrendStore::Limits &limits, const std::atomic<bool> &cancelled,
              Progress &progress, int partNumber)
{
    Part part;
    part.store = std::make_unique<TrendStore>(limits);
    RecordReader reader(device);
    reader.setStopFlag(&cancelled);
    TelemetryRecord record;
    while (reader.next(&record)) {
        part.store->add(record.timeMs, record.telemetry);
        if (++part.frames % CheckEvery == 0)
            progress.tell(partNumber, position());
    }
    part.cancelled = cancelled;
    part.error = reader.errorString();
    // A process killed, a power cut, or a recording still being written: the window
    // says so, with the number of frames read.
    part.lastLineCutShort = reader.lastLineCutShort();
    return part;
}

// Where the line after the one at offset begins; -1 in a file without one.
qint64 lineStartAfter(QFile &file, qint64 offset)
{
    if (!file.seek(offset))
        return -1;
    const QByteArray bytes = file.read(1024 * 1024);
    const int newline = bytes.indexOf('\n');
    return newline < 0 || offset + newline + 1 >= file.size() ? -1 : offset + newline + 1;
}

// Both halves at once, the later one on a thread of its own. A part that cannot be
// read, or later frames that go back in time, give no store: reading the file
// whole then says where it breaks, with the right line number.
Part readInTwo(const QString &path, QFile &file, const TrendStore::Limits &limits,
               const std::atomic<bool> &cancelled, Progress &progress)
{
    file.seek(0);
    QByteArray start = file.read(4);
    if (start.startsWith("\xEF\xBB\xBF"))
        start.remove(0, 3);
    const bool jsonLines = start.startsWith('{');
    const qint64 size = file.size();
    const qint64 middle = lineStartAfter(file, size / 2);
    if (middle < 0)
        return {};
    FileSlice first(path, QByteArray(), 0, middle);
    FileSlice second(path, jsonLines ? QByteArray() : csvHeaderRow(), middle, size);
    if (!first.openSlice() || !second.openSlice())
        return {};

    // A std::thread, whose join ThreadSanitizer sees: Debian's Qt is not built for
    // it, and a QThread::wait() would hide the hand-over of the later half.
    Part later;
    std::thread helper([&] {
        later = readPart(
            &second, [&second] { return second.fileBytesRead(); }, limits, cancelled, progress, 1);
    });
    Part part = readPart(
        &first, [&first] { return first.fileBytesRead(); }, limits, cancelled, progress, 0);
    helper.join();
    if (part.cancelled || later.cancelled) {
        part.cancelled = true;
        return part;
    }
    if (!part.error.isEmpty() || !later.error.isEmpty() ||
        !part.store->append(std::move(*later.store)))
        return {};
    part.frames += later.frames;
    part.lastLineCutShort = later.lastLineCutShort;
    return part;
}

} // namespace

// A reading's state, shared by the loader and its thread, so that either may go
// first: a loader given up (its window closed, Cancel pressed) leaves the rest to
// the thread, which ends when its file lets it and frees what it read.
//
// The thread calls nothing of Qt's in this one: Debian's Qt is not built for
// ThreadSanitizer, whose checks then see Qt's event queue filled by one thread and
// emptied by another without the lock between. The loader looks for the end
// instead, every EndCheckMs, and takes the result by the join, which it sees.
struct RecordingLoader::Job
{
    std::atomic<bool> cancelled{false};
    std::atomic<int> permille{0};
    std::atomic<bool> ended{false};
    Result result; // the thread's until it has ended
};

namespace {
std::atomic<int> threadsUnderWay{0};
// Soon enough after the end that nobody notices, seldom enough to cost nothing.
constexpr int EndCheckMs = 20;
} // namespace

RecordingLoader::RecordingLoader(QObject *parent) : QObject(parent), endCheck(new QTimer(this))
{
    endCheck->setInterval(EndCheckMs);
    connect(endCheck, &QTimer::timeout, this, &RecordingLoader::checkEnded);
}

RecordingLoader::~RecordingLoader()
{
    giveUp();
}

void RecordingLoader::start(const QString &path, const TrendStore::Limits &limits)
{
    if (job)
        return;
    result = Result();
    job = std::make_shared<Job>();
    ++threadsUnderWay;
    worker = std::thread([shared = job, path, limits]() mutable {
        shared->result = read(path, limits, shared->cancelled, &shared->permille);
        shared->ended = true;
        // Given up, the reading is freed here, on this thread.
        shared.reset();
        --threadsUnderWay;
    });
    endCheck->start();
}

void RecordingLoader::cancel()
{
    if (!job)
        return;
    giveUp();
    result = Result();
    result.cancelled = true;
    emit finished();
}

void RecordingLoader::giveUp()
{
    if (!job)
        return;
    endCheck->stop();
    job->cancelled = true;
    worker.detach();
    job.reset();
}

void RecordingLoader::checkEnded()
{
    if (!job || !job->ended)
        return;
    endCheck->stop();
    // The thread has nothing left to do but return: the join is at once.
    worker.join();
    result = std::move(job->result);
    job.reset();
    emit finished();
}

int RecordingLoader::permille() const
{
    return job ? job->permille.load() : 0;
}

int RecordingLoader::readsUnderWay()
{
    return threadsUnderWay.load();
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
    Progress progress(file.size(), permille);
    Part part;
    if (!file.isSequential() && file.size() >= SplitFromBytes)
        part = readInTwo(path, file, limits, cancelled, progress);
    if (!part.store && !part.cancelled) {
        progress.tell(1, 0);
        if (!file.isSequential())
            file.seek(0);
        part = readPart(
            &file, [&file] { return file.pos(); }, limits, cancelled, progress, 0);
    }

    result.frames = part.frames;
    if (part.cancelled) {
        result.cancelled = true;
        return result;
    }
    if (!part.error.isEmpty()) {
        result.error = tr("Cannot read %1: %2").arg(path, part.error);
        return result;
    }
    if (part.frames == 0) {
        result.error = tr("%1 holds no frames.").arg(path);
        return result;
    }
    if (part.lastLineCutShort)
        result.notice = tr("The last line is cut short: %1 frames read.").arg(part.frames);
    result.store = std::move(part.store);
    return result;
}
