#pragma once

#include "serial/remoteline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIODevice>
#include <QSerialPort>

class QTimer;

// Line settings of a SerialPort, in the order the board's documentation lists them.
struct PortSettings
{
    qint32 baudRate = 115200;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
    qint32 timeoutMillisec = 10;
};

// The tool's serial port: a QIODevice over QSerialPort that hands on incoming bytes
// as they arrive and tells when the line has fallen silent, and for how long. See
// serialport.cpp for the silence rule and the handling of a vanished device. A name
// that is a URL (rfc2217://HOST:PORT, tcp://HOST:PORT) reaches the board's line
// through the serial port server on that machine instead, and behaves the same.
//
// QIODevice::aboutToClose() is the reader's last chance: the bytes delivered can
// still be read then, and what it holds back waiting for more can be judged as it
// stands. It comes for every close, the device's loss included.
class SerialPort : public QIODevice
{
    Q_OBJECT

public:
    enum QueryMode { Polling = 0, EventDriven = 1 };

    // Silence on the line that ends a burst.
    static constexpr int BurstGapMs = 30;
    // The longer silence told once more after a burst: a frame that began and has
    // not ended by then never will (FrameStream::MaxPauseMs).
    static constexpr int LongGapMs = 1000;

    SerialPort(const QString &name, const PortSettings &settings, QueryMode mode,
               QObject *parent = nullptr);
    ~SerialPort() override;

    void setPortName(const QString &name);
    QString portName() const;
    void setBaudRate(qint32 baudRate);
    qint32 baudRate() const;
    QueryMode queryMode() const;

    // For a URL, waits for the connection (at most RemoteLine::OpenTimeoutMs) without
    // turning the event loop.
    bool open(OpenMode mode) override;
    // Opens without waiting and tells by openFinished(): for a device before this
    // returns, for a URL once the server has answered or the attempt has given up.
    void startOpen(OpenMode mode);
    bool isOpening() const;
    // Also gives up an attempt that startOpen() began, without openFinished().
    void close() override;
    bool isSequential() const override;
    qint64 bytesAvailable() const override;

    // Why the last open() failed: QSerialPort's error of that attempt (NoError when
    // it never reached the device: no name, rate 0). errorString() says it in words.
    QSerialPort::SerialPortError openError() const;
    // Why the last open() of a URL failed; errorString() has the details.
    RemoteLine::Failure remoteOpenError() const;
    // On an rfc2217:// line whose server set another rate than the one asked for,
    // "the server set 9600 baud, not 115200"; else empty.
    QString rateProblem() const;

    // Waits until what was written is on its way to the board for good: handed to
    // the kernel for a device, which sends it before it closes the line; for a URL,
    // as RemoteLine::waitForWrittenOut() tells. False when that failed or msecs ran out.
    bool waitForWrittenOut(int msecs);

signals:
    // The device behind the open port went away (adapter unplugged, pty master
    // closed). The port has already closed itself when this is emitted.
    void deviceLost(const QString &reason);
    // Nothing has arrived for silentMs since the last readyRead(): emitted once
    // after BurstGapMs, and once more at LongGapMs if the line stays silent. A
    // reader thread held up for longer sees one emission with the silence it
    // measured.
    void lineSilent(int silentMs);
    // The end of an attempt that startOpen() began.
    void openFinished(bool opened);
    // Something about the line the technician should know, which does not close it:
    // rateProblem() when the server sets another rate.
    void lineWarning(const QString &text);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    void collectIncoming();
    void endBurst();
    void onError(QSerialPort::SerialPortError error);
    void queueLoss(const QString &reason);
    void dropLostDevice(const QString &reason);
    bool startRemote();
    bool openOver(QIODevice *line, OpenMode openMode);

    QSerialPort *port;
    RemoteLine *remote;
    QIODevice *link; // port or remote, whichever the last open used
    OpenMode pendingMode = NotOpen;
    // Kept apart from QSerialPort, which turns "/dev/pts/5" into "pts/5".
    QString name;
    PortSettings settings;
    QueryMode mode;
    QByteArray delivered; // arrived and not yet read
    QTimer *gapTimer;
    QElapsedTimer sinceLastBytes;
    int dueSilenceMs = BurstGapMs; // the silence gapTimer runs out at
    bool lossQueued = false;
    QSerialPort::SerialPortError lastOpenError = QSerialPort::NoError;
};
