#pragma once

#include "report/reportdata.h"
#include "report/reportfigure.h"
#include "report/reportrequest.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class ReportFile;

// Makes a report without holding up the thread it lives on: the recording is read
// and the file written on a worker thread, and only the plots, which are widgets, are
// drawn on this one, in a few tens of milliseconds. The file is opened first, so that a
// folder that cannot be written is said before any reading. finished() tells the
// outcome once; the job can then be deleted.
class ReportJob : public QObject
{
    Q_OBJECT

public:
    // A report of the recording the request names.
    explicit ReportJob(const ReportRequest &request, QObject *parent = nullptr);
    // A report of what was gathered already, such as a live session.
    ReportJob(ReportData data, const QString &output, QObject *parent = nullptr);
    // Waits for the worker, after asking it to stop.
    ~ReportJob() override;

    void start();
    // Stops reading the recording at its next check; finished() follows with nothing
    // written. Once the file is being written, it is written.
    void cancel() { cancelRequested = true; }
    bool isRunning() const { return running; }
    // How far the reading is, from 0 to 1000.
    int permille() const { return progress.load(); }
    QString output() const { return outputPath; }

signals:
    // written: the report is under its name. Else message says why, or is empty after
    // cancel(). verdict is the report's when written.
    void finished(bool written, const QString &message, ReportData::Verdict verdict);

private:
    void runOnWorker(std::function<void()> work, void (ReportJob::*next)());
    void draw();
    void write();
    void finish(bool written);

    ReportRequest request;
    QString outputPath;
    std::optional<ReportData> data;
    QVector<ReportFigure> figures;
    std::unique_ptr<ReportFile> file;
    std::thread worker;
    std::atomic<bool> cancelRequested{false};
    std::atomic<int> progress{0};
    QString error;
    bool running = false;
};
