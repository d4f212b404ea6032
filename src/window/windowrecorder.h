#pragma once

#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

class QTimer;
struct JudgeEvent;
struct TelemetryRecord;

// Writes the frames the window accepts to a recording file, in the format of
// keldro-cli record: CSV, or JSON Lines for a name ending in ".jsonl". While the
// window judges against limits, the judge's events go beside it, one JSON object a
// line, to eventsPathFor(path()).
class WindowRecorder : public QObject
{
    Q_OBJECT

public:
    explicit WindowRecorder(QObject *parent = nullptr);
    ~WindowRecorder() override;

    // false, with the reason in *error, when the file cannot be written.
    bool start(const QString &path, QString *error);
    // The rows onto the disk and the file closed; failed() when the last ones could
    // not be kept.
    void stop();
    bool isRecording() const;
    QString path() const;

    // charge.csv and charge.jsonl keep their events in charge.events.jsonl; a name
    // that is neither gets ".events.jsonl" added.
    static QString eventsPathFor(const QString &recordingPath);
    // Whether events are kept beside the recording, from now on (the window sets it
    // while limits are loaded).
    void setKeepEvents(bool keep);

    void addRecord(const TelemetryRecord &record);
    void addEvents(const QVector<JudgeEvent> &events);
    // Hands the rows gathered so far to the file (done once a second).
    void flush();

signals:
    // A row could not be written: recording has stopped; the rows before it stay.
    void failed(const QString &reason);

private:
    // The reason when the last rows could not be kept, else empty.
    QString closeFile();
    bool openEventsFile(QString *error);
    QString closeEventsFile();
    void fail(const QString &reason);

    class Private;
    std::unique_ptr<Private> d;
    QTimer *flushTimer;
};
