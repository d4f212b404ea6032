#pragma once

#include "report/boardsession.h"

#include <QFileDialog>
#include <QObject>
#include <QString>

class QWidget;
class ReportJob;
class TrendStore;
class TrendsWindow;
class WindowJudge;
struct TelemetryRecord;

// Export report… of the window's context menu and of each trends window: asks where to
// write the report, then makes it with a ReportJob behind a progress dialog with Cancel,
// while the window goes on. A report of a recording reads the file again, judged
// against the limits loaded now; one of the live session takes the live trends, the
// window judge's tally and events, and the facts of the session's frames, which this
// object keeps from the first frame on.
class ReportExport : public QObject
{
    Q_OBJECT

public:
    ReportExport(QWidget *window, WindowJudge *judge);

    void setFileDialogOptions(QFileDialog::Options options) { dialogOptions = options; }
    // One frame the window accepted. A frame of another port starts a new session, as
    // the judge does.
    void frameAccepted(const TelemetryRecord &record);

    // A trends window's Export report… reports what it shows: its recording, or the live
    // session.
    void watch(TrendsWindow *trends);

    // Asks for a file, then makes the report; a message box tells why when it fails.
    void exportSession(QWidget *parent, const TrendStore &store);
    void exportRecording(QWidget *parent, const QString &recording);
    // The same without asking, for a file already chosen: the job runs until
    // finished().
    ReportJob *startSession(QWidget *parent, const TrendStore &store, const QString &output);
    ReportJob *startRecording(QWidget *parent, const QString &recording, const QString &output);

signals:
    void finished(const QString &output, bool written, const QString &message);

private:
    QString askForOutput(QWidget *parent, const QString &proposed);
    ReportJob *run(QWidget *parent, ReportJob *job);
    void warn(QWidget *parent, const QString &message);

    QWidget *window;
    WindowJudge *judge;
    BoardSession session;
    QFileDialog::Options dialogOptions;
};
