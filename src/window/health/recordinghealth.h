#pragma once

#include "judge/cellhealth.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>
#include <atomic>

class QThread;

// The cells' health of a whole recording (CSV or JSON Lines), worked out on a thread
// of its own: a day at ten frames a second takes a few seconds to read, and the
// window goes on meanwhile. One recording per object; finished() tells that health()
// or error() holds the answer. Each board of the recording has an estimate of its
// own, named as keldro-cli health names it.
class RecordingHealth : public QObject
{
    Q_OBJECT

public:
    explicit RecordingHealth(const QString &path, QObject *parent = nullptr);
    // Stops a reading still going and waits for its thread.
    ~RecordingHealth() override;

    void start();
    QString path() const { return recordingPath; }
    using Results = QVector<QPair<QString, CellHealth>>;

    // Empty when the file did not read, or the reading was stopped.
    const Results &health() const { return result; }
    QString error() const { return failure; }

    // The reading itself, on the calling thread: the estimate of each board of the
    // recording, or nothing with the reason in *error (none when cancelled).
    static Results read(const QString &path, const std::atomic<bool> &cancelled, QString *error);

signals:
    void finished();

private:
    QString recordingPath;
    QThread *thread = nullptr;
    std::atomic<bool> cancelRequested{false};
    Results result;
    QString failure;
};
