#pragma once

#include "porttarget.h"
#include "protocol/framestream.h"
#include "protocol/telemetryrecord.h"

#include <QElapsedTimer>
#include <QObject>

class QTimer;
class SerialPort;

// One board on one port, for a recording: the port, the frame stream that takes its
// bytes apart, the poll and the way back after the device has vanished.
class BoardLink : public QObject
{
    Q_OBJECT

public:
    struct Counts
    {
        qint64 frames = 0;
        qint64 rejected = 0;
        qint64 textLines = 0;
        qint64 textBytes = 0;
        int gaps = 0;
        qint64 gapMs = 0;
    };

    BoardLink(const PortTarget &target, qint32 baudRate, bool poll, QObject *parent = nullptr);

    const PortTarget &target() const { return portTarget; }
    const Counts &counts() const { return tally; }
    bool isOpen() const;

    // Fails also when the server of a URL sets another rate than the one asked for.
    bool open();
    // Why the last open() failed, in words a technician can act on.
    QString openFailure() const;
    void close();
    // After a loss: opens again as soon as the path is back, or the server of a URL
    // answers. Also called at once when the system announces a new port.
    void reconnect();

signals:
    void frameAccepted(const TelemetryRecord &record);
    // A line of the board's text, without its line end, as valid UTF-8 (boardText).
    void textLine(qint64 timeMs, const QByteArray &line);
    void lost(const QString &reason);
    void returned(qint64 gapMs);

private:
    void readArrived();
    void take(const QVector<StreamItem> &items);
    void onDeviceLost(const QString &reason);
    void reopened(bool opened);

    PortTarget portTarget;
    SerialPort *port;
    FrameStream stream;
    QTimer *pollTimer;
    QTimer *retryTimer;
    QElapsedTimer lostFor;
    Counts tally;
    QString rateFailure; // why the last open() failed, when the port opened at another rate
};
