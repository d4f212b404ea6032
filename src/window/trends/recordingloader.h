#pragma once

#include "plot/trendstore.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class QTimer;

// Reads a recording (CSV or JSON Lines) into a TrendStore on a thread of its own,
// so that the window goes on drawing live frames meanwhile; a large one in two
// halves at once, the later half on a second thread. The file is opened there too:
// a named pipe or a network file that does not answer holds up that thread only.
// One reading at a time; finished() tells that takeResult() holds what it gave.
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
    // Returns at once, as cancel() does, without finished().
    ~RecordingLoader() override;

    void start(const QString &path, const TrendStore::Limits &limits = TrendStore::Limits());
    // Gives the reading up at once: finished() comes before this returns, with a
    // cancelled result. The thread stops at its next look at the flag, within 64 KiB,
    // or when the file it waits for answers, and cleans up after itself.
    void cancel();
    bool isRunning() const { return job != nullptr; }
    // How far the reading is, from 0 to 1000.
    int permille() const;
    Result takeResult() { return std::move(result); }

    // The reading itself, on the calling thread.
    static Result read(const QString &path, const TrendStore::Limits &limits,
                       const std::atomic<bool> &cancelled, std::atomic<int> *permille);
    // Threads of all loaders that have not ended yet, those given up included.
    static int readsUnderWay();

signals:
    void finished();

private:
    struct Job;

    void checkEnded();
    void giveUp();

    QTimer *endCheck;
    std::shared_ptr<Job> job;
    std::thread worker;
    Result result;
};
