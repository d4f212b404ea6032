#pragma once

#include "porttarget.h"
#include "record/recordwriter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QVector>
#include <memory>
#include <optional>

class BoardJudges;
class BoardLink;
class MqttFeed;
class QFile;
class QTimer;
class SerialEnumerator;

struct RecordSettings
{
    QVector<PortTarget> ports;
    qint32 baudRate = 115200;
    bool poll = false;
    RecordFormat format = RecordFormat::Csv;
    qint64 durationMs = 0; // 0: until stopped
    qint64 count = 0;      // rows of all ports together; 0: no limit
    bool reconnect = true;
};

// `keldro-cli record`: rows from every port into one output, board text into another,
// the status line, and the summary when the run ends.
class Recorder : public QObject
{
    Q_OBJECT

public:
    // rows and text are open; a null text output means standard error, null rows a run
    // that only publishes. A file of rows is emptied once the ports are open; rows reach
    // it once a second, and anything else (a pipe, a terminal) at once; text lines at
    // once. Both are synced onto the disk at the end.
    Recorder(const RecordSettings &settings, QFile *rows, const QString &rowsName, QFile *text,
             QObject *parent = nullptr);
    ~Recorder() override;

    // Frames, text and each port's state go to the broker as well, before start().
    void setFeed(MqttFeed *mqttFeed) { feed = mqttFeed; }
    // Every frame taken and each port opened and lost are judged, before start(). An
    // events file that takes no more ends the run with status 1.
    void setJudges(BoardJudges *boardJudges);

    // Opens every port; on failure says why (also in *failure, when given) and returns
    // false, with nothing opened. The run then goes on until finished() is emitted, queued.
    bool start(QString *failure = nullptr);
    // Ends the run: ports closed, rows flushed, summary written.
    void finish(int status);
    // What ended the run early or spoilt its end (an events file on a full disk), as
    // said on standard error; empty when nothing did.
    QString failure() const { return failureMessage; }

signals:
    // Each row taken, after it went to the file, the broker and the judges.
    void frameTaken(const TelemetryRecord &record);
    void finished(int status);

private:
    void writeRow(const TelemetryRecord &record);
    void writeText(const BoardLink *link, qint64 timeMs, const QByteArray &line);
    QString textFailure() const;
    bool flushRows();
    int outputFailure() const;
    void showStatus();
    QString summary() const;
    void end(int status);

    RecordSettings settings;
    QFile *rows;
    QString rowsName;
    QFile *text;
    std::optional<LineFileWriter> textLines;
    RecordWriter writer;
    bool flushEachRow;
    QVector<BoardLink *> links;
    SerialEnumerator *enumerator = nullptr;
    MqttFeed *feed = nullptr;
    BoardJudges *judges = nullptr;
    QTimer *flushTimer;
    QTimer *statusTimer;
    QTimer *durationTimer;
    QElapsedTimer running;
    TelemetryRecord lastRecord;
    qint64 rowsTaken = 0;
    QString failureMessage;
    bool done = false;
};
