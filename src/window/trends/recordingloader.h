#pragma once

#include "plot/trendstore.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

class QThread;

// Reads a recording (CSV or JSON Lines) into a TrendStore on a thread of its own,
// so that the window goes on drawing live frames meanwhile; a large one in two
// halves at once, the later half on a second thread. One reading at a time;
// finished() tells that takeResult() holds what it gave.
class RecordingLoader : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        std::unique_ptr<TrendStore> store; // null unless the whole file was read
        QString error;                     // why not, for the user
        QString notice;                    // what the user should know about what was read
        qint64 frames = 0;
        bool cancelled = false;
    };

    explicit RecordingLoader(QObject *parent = nullptr);
    // Cancels a reading still going and waits for its thread.
    ~RecordingLoader() override;

    void start(const QString &path, const TrendStore::Limits &limits = TrendStore::Limits());
    // The reading stops at its next check, within a few milliseconds; finished()
    // follows with a cancelled result.
    void cancel();
    bool isRunning() const { return thread != nullptr; }
    // How far the reading is, from 0 to 1000.
    int permille() const { return progress.load(); }
    Result takeResult() { return std::move(result); }

    // The reading itself, on the calling thread.
    static Result read(const QString &path, const TrendStore::Limits &limits,
                       const std::atomic<bool> &cancelled, std::atomic<int> *permille);

signals:
    void finished();

private:
    QThread *thread = nullptr;
    std::atomic<bool> cancelRequested{false};
    std::atomic<int> progress{0};
    Result result;
};
