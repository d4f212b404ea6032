#include "report/recordingscan.h"

#include "judge/judge.h"
#include "plot/trendstore.h"
#include "protocol/telemetryrecord.h"
#include "record/recordformat.h"
#include "record/recordreader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace {

// Checking for a cancel and telling the progress every so many frames costs nothing
// that shows.
constexpr qint64 CheckEvery = 4096;

QString tr(const char *text)
{
    return QCoreApplication::translate("RecordingScan", text);
}

// The plots draw a few hundred pixels: whole frames are kept only for a short
// recording, summaries for the rest, which keeps a day's report within a few tens of
// megabytes.
TrendStore::Limits reportStoreLimits()
{
    TrendStore::Limits limits;
    limits.entries[0] = 20000;
    return limits;
}

bool readEvents(const QString &path, const QString &port, QVector<JudgeEvent> *events,
                QString *error)
{
    QFile file(path);
    QVector<JudgeEvent> all;
    QString message;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!readEventLines(&file, &all, &message)) {
        *error = QStringLiteral("%1: %2").arg(path, message);
        return false;
    }
    for (const JudgeEvent &event : qAsConst(all))
        if (event.port == port || event.port.isEmpty())
            events->append(event);
    return true;
}

} // namespace

QString eventsFileBeside(const QString &recording)
{
    QStringList candidates;
    if (recordFormatForPath(recording)) {
        const QString suffix = QFileInfo(recording).suffix();
        candidates << recording.left(recording.size() - suffix.size()) +
                          QStringLiteral("events.jsonl");
    }
    candidates << recording + QStringLiteral(".events.jsonl");
    for (const QString &candidate : qAsConst(candidates))
        if (QFileInfo(candidate).isFile())
            return candidate;
    return QString();
}

std::optional<ReportData> scanRecording(const ReportRequest &request,
                                        const std::atomic<bool> &cancelled,
                                        std::atomic<int> *permille, QString *error)
{
    error->clear();
    QFile file(request.recording);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("cannot read %1: %2").arg(request.recording, file.errorString());
        return std::nullopt;
    }
    const QString name = QFileInfo(request.recording).fileName();
    const qint64 size = std::max<qint64>(1, file.size());

    ReportData data;
    data.title = request.title.isEmpty() ? name : request.title;
    data.source = name;
    data.judged = request.limits.has_value();
    data.limits = request.limits.value_or(Limits());
    data.limitsFile = request.limitsFile;
    auto store = std::make_shared<TrendStore>(reportStoreLimits());
    Judge judge(data.limits);
    QVector<JudgeEvent> judged;

    RecordReader reader(&file);
    TelemetryRecord record;
    QString port = request.port;
    qint64 read = 0;
    while (reader.next(&record)) {
        if (++read % CheckEvery == 0) {
            if (cancelled)
                return std::nullopt;
            if (permille)
                *permille = int(std::min<qint64>(1000, file.pos() * 1000 / size));
        }
        if (port.isEmpty())
            port = record.port;
        if (record.port != port) {
            if (!data.otherPorts.contains(record.port))
                data.otherPorts << record.port;
            continue;
        }
        data.session.add(record);
        store->add(record.timeMs, record.telemetry);
        judge.judgeFrame(record, &judged);
    }
    if (reader.hasError()) {
        *error = QStringLiteral("%1: %2").arg(request.recording, reader.errorString());
        return std::nullopt;
    }
    if (data.session.frames() == 0) {
        *error = request.port.isEmpty()
                     ? tr("%1 holds no frames").arg(request.recording)
                     : tr("%1 holds no frames of %2").arg(request.recording, request.port);
        return std::nullopt;
    }
    if (reader.lastLineCutShort())
        data.notice = tr("The recording ends in a line cut short: the report covers the %1 "
                         "frames before it.")
                          .arg(read);
    data.tally = judge.tally();
    data.store = std::move(store);

    const QString eventsFile =
        request.eventsFile.isEmpty() ? eventsFileBeside(request.recording) : request.eventsFile;
    if (eventsFile.isEmpty()) {
        data.events = std::move(judged);
    } else {
        if (!readEvents(eventsFile, port, &data.events, error))
            return std::nullopt;
        data.eventsFrom = QFileInfo(eventsFile).fileName();
    }
    concludeReport(&data);
    data.madeMs = QDateTime::currentMSecsSinceEpoch();
    if (permille)
        *permille = 1000;
    return data;
}
