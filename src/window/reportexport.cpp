#include "window/reportexport.h"

#include "plot/trendstore.h"
#include "protocol/telemetryrecord.h"
#include "report/reportjob.h"
#include "window/alarms/eventlog.h"
#include "window/alarms/windowjudge.h"
#include "window/trends/trendswindow.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>

ReportExport::ReportExport(QWidget *window, WindowJudge *judge)
    : QObject(window), window(window), judge(judge)
{}

void ReportExport::watch(TrendsWindow *trends)
{
    connect(trends, &TrendsWindow::reportRequested, this, [this, trends] {
        const QString recording = trends->recordingPath();
        if (recording.isEmpty())
            exportSession(trends, trends->store());
        else
            exportRecording(trends, recording);
    });
}

void ReportExport::frameAccepted(const TelemetryRecord &record)
{
    if (session.frames() > 0 && record.port != session.port())
        session = BoardSession();
    session.add(record);
}

QString ReportExport::askForOutput(QWidget *parent, const QString &proposed)
{
    const QString pdf = tr("PDF (*.pdf)");
    const QString html = tr("HTML (*.html)");
    QString chosenFilter;
    QString path = QFileDialog::getSaveFileName(parent, tr("Export report"), proposed,
                                                pdf + QStringLiteral(";;") + html, &chosenFilter,
                                                dialogOptions);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += chosenFilter == html ? QStringLiteral(".html") : QStringLiteral(".pdf");
    return path;
}

void ReportExport::exportSession(QWidget *parent, const TrendStore &store)
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = QFileInfo(documents).isDir() ? documents : QDir::homePath();
    const QString path =
        askForOutput(parent, QDir(folder).filePath(QStringLiteral("keldro-report-%1.pdf")
                                                       .arg(QDateTime::currentDateTime().toString(
                                                           QStringLiteral("yyyyMMdd-HHmmss")))));
    if (!path.isEmpty())
        startSession(parent, store, path);
}

void ReportExport::exportRecording(QWidget *parent, const QString &recording)
{
    const QFileInfo info(recording);
    const QString path =
        askForOutput(parent, info.dir().filePath(info.completeBaseName() + QStringLiteral(".pdf")));
    if (!path.isEmpty())
        startRecording(parent, recording, path);
}

ReportJob *ReportExport::startSession(QWidget *parent, const TrendStore &store,
                                      const QString &output)
{
    if (session.frames() == 0) {
        const QString message = tr("No frame has come yet: there is nothing to report.");
        warn(parent, message);
        emit finished(output, false, message);
        return nullptr;
    }
    ReportData data;
    data.title = tr("%1, live session").arg(session.port());
    data.source = tr("the window's live session");
    data.session = session;
    data.judged = judge->hasLimits();
    data.limits = judge->limits();
    data.limitsFile = QFileInfo(judge->limitsPath()).fileName();
    data.tally = judge->tally();
    data.events = judge->log()->events();
    // The live store goes on taking frames: the report draws a copy.
    data.store = std::make_shared<TrendStore>(store);
    data.madeMs = QDateTime::currentMSecsSinceEpoch();
    concludeReport(&data);
    return run(parent, new ReportJob(std::move(data), output, this));
}

ReportJob *ReportExport::startRecording(QWidget *parent, const QString &recording,
                                        const QString &output)
{
    ReportRequest request;
    request.recording = recording;
    request.output = output;
    if (judge->hasLimits()) {
        request.limits = judge->limits();
        request.limitsFile = QFileInfo(judge->limitsPath()).fileName();
    }
    return run(parent, new ReportJob(request, this));
}

void ReportExport::warn(QWidget *parent, const QString &message)
{
    // Not exec(): the window goes on taking frames meanwhile.
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Report not written"), message,
                                QMessageBox::Ok, parent ? parent : window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

ReportJob *ReportExport::run(QWidget *parent, ReportJob *job)
{
    auto *progress = new QProgressDialog(tr("Writing %1…").arg(QFileInfo(job->output()).fileName()),
                                         tr("Cancel"), 0, 1000, parent);
    progress->setObjectName(QStringLiteral("reportProgress"));
    progress->setWindowTitle(tr("Export report"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setMinimumDuration(300);
    auto *timer = new QTimer(progress);
    timer->setInterval(100);
    connect(timer, &QTimer::timeout, progress,
            [progress, job] { progress->setValue(job->permille()); });
    connect(progress, &QProgressDialog::canceled, job, &ReportJob::cancel);
    // The window the export started from may close meanwhile, and its dialog with it.
    const QPointer<QProgressDialog> shown(progress);
    const QPointer<QWidget> from(parent);
    connect(job, &ReportJob::finished, this,
            [this, job, shown, from](bool written, const QString &message) {
                if (shown)
                    shown->close();
                job->deleteLater();
                emit finished(job->output(), written, message);
                if (!written && !message.isEmpty())
                    warn(from, message);
            });
    timer->start();
    job->start();
    return job;
}
