#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QTimer;
struct TelemetryRecord;

// Writes the frames the window accepts to a recording file, in the format of
// keldro-cli record: CSV, or JSON Lines for a name ending in ".jsonl".
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

    void addRecord(const TelemetryRecord &record);
    // Hands the rows gathered so far to the file (done once a second).
    void flush();

signals:
    // A row could not be written: recording has stopped; the rows before it stay.
    void failed(const QString &reason);

private:
    // The reason when the last rows could not be kept, else empty.
    QString closeFile();

    class Private;
    std::unique_ptr<Private> d;
    QTimer *flushTimer;
};
