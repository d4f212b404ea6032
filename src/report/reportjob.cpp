#include "report/reportjob.h"

#include "report/recordingscan.h"
#include "report/reportfigures.h"
#include "report/reportfile.h"

#include <QMetaObject>

ReportJob::ReportJob(const ReportRequest &request, QObject *parent)
    : QObject(parent), request(request), outputPath(request.output)
{}

ReportJob::ReportJob(ReportData gathered, const QString &output, QObject *parent)
    : QObject(parent), outputPath(output), data(std::move(gathered))
{}

ReportJob::~ReportJob()
{
    if (!worker.joinable())
        return;
    cancel();
    worker.join();
}

void ReportJob::start()
{
    if (running)
        return;
    running = true;
    file = std::make_unique<ReportFile>(outputPath);
    runOnWorker(
        [this] {
            if (!file->open(&error))
                return;
            if (!data)
                data = scanRecording(request, cancelRequested, &progress, &error);
        },
        &ReportJob::draw);
}

// The work runs on a thread of its own; what it leaves in the members is this
// thread's again once this thread has joined it. A std::thread, so that the join is
// one that ThreadSanitizer sees too.
void ReportJob::runOnWorker(std::function<void()> work, void (ReportJob::*next)())
{
    worker = std::thread([this, work = std::move(work), next] {
        work();
        QMetaObject::invokeMethod(
            this,
            [this, next] {
                worker.join();
                (this->*next)();
            },
            Qt::QueuedConnection);
    });
}

void ReportJob::draw()
{
    if (!data || !error.isEmpty()) {
        finish(false);
        return;
    }
    progress = 1000;
    figures = drawReportFigures(*data);
    runOnWorker([this] { file->write(*data, figures, &error); }, &ReportJob::write);
}

void ReportJob::write()
{
    finish(error.isEmpty());
}

void ReportJob::finish(bool written)
{
    running = false;
    const ReportData::Verdict verdict = data ? data->verdict() : ReportData::Verdict::NotJudged;
    // An unwritten report leaves no temporary file behind.
    file.reset();
    emit finished(written, written ? QString() : error, verdict);
}
