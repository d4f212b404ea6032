#pragma once

#include "serial/comporttelnet.h"
#include "serial/porturl.h"

#include <QElapsedTimer>
#include <QIODevice>

class QTcpSocket;
class QTimer;

// The serial line of a board on another machine: a TCP connection to the serial port
// server there, with the COM port option for an rfc2217:// URL. Reads and writes the
// board's bytes like a local line; see remoteline.cpp for opening it, losing it and
// closing it without losing what was written.
class RemoteLine : public QIODevice
{
    Q_OBJECT

public:
    // Why an open failed, in the terms OpenFailure explains.
    enum class Failure {
        None,
        ConnectionRefused,
        HostNotFound,
        TimedOut,
        ComPortRefused, // the server said DONT to the COM port option
        ComPortSilent,  // connected, but no answer to it (a raw TCP port?)
        Other,          // errorString() says what
    };

    // How long a connection attempt may take, the COM port option included.
    static constexpr int OpenTimeoutMs = 5000;
    // How often the tool calls a lost server again: a restarted ser2net is back within
    // a second, and a machine that is down is not hammered.
    static constexpr int RetryIntervalMs = 1000;
    // What a server is given, after it has taken the last bytes, to put them on its
    // serial line (see remoteline.cpp).
    static constexpr int ServerLatencyMs = 100;
    // How long a close waits at most for the bytes to go out before it gives up.
    static constexpr int DrainTimeoutMs = 3000;

    explicit RemoteLine(QObject *parent = nullptr);
    ~RemoteLine() override;

    // Starts connecting; opened() or openFailed() tells how it went.
    void startOpen(const PortUrl &url, qint32 rate);
    // Waits for the attempt that startOpen() began, without turning the event loop,
    // and emits neither signal. True when the line is open.
    bool waitForOpened();
    bool isOpening() const
    {
        return state == State::Connecting || state == State::Negotiating || openAfterDrain;
    }
    Failure failure() const { return lastFailure; }

    // On an rfc2217:// line the server's port follows; a tcp:// line keeps its rate.
    void setBaudRate(qint32 rate);
    // The rate the server last said it has set; 0 before it has, and on a tcp:// line.
    qint32 confirmedBaudRate() const { return telnet.confirmedBaudRate(); }

    // Waits, without turning the event loop, until the bytes written have left this
    // end, the server has taken them and has had the time to put them on the board's
    // wire. False when the connection broke meanwhile or msecs ran out.
    bool waitForWrittenOut(int msecs);
    // Bytes written and not yet known to be on the wire are first seen out, after the
    // line has closed: the connection stays until then, at most DrainTimeoutMs. An
    // open started meanwhile connects once it has gone.
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    // Takes what the connection holds now; readyRead() is emitted for the board's
    // bytes among it before this returns.
    bool waitForReadyRead(int msecs) override;

signals:
    void opened();
    void openFailed();
    // The server closed the connection or it broke, while the line was open.
    void lost(const QString &reason);
    // The server has set another rate than the one asked for; told once for each
    // rate it sets.
    void baudRateDiffers(qint32 set, qint32 asked);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    enum class State { Closed, Connecting, Negotiating, Open, Draining };
    enum class Drain { Going, Done, Failed };

    bool connecting() const { return state == State::Connecting || state == State::Negotiating; }
    void connectNow();
    void onConnected();
    void onSocketReadyRead();
    void onSocketGone();
    void finishOpening(Failure failure, const QString &why = QString());
    void startDrain();
    Drain advanceDrain();
    bool drainWithin(int msecs);
    void endDrain();
    void disconnectSocket();
    void checkRate();

    QTcpSocket *socket;
    QTimer *deadline;
    QTimer *drainTimer;
    QElapsedTimer attemptTime;
    State state = State::Closed;
    PortUrl url;
    qint32 baudRate = 0;
    ComPortTelnet telnet;
    qint32 reportedRate = 0; // the rate baudRateDiffers() told last
    bool openAfterDrain = false;

    // Written bytes on their way to the board's wire. The clock runs from the
    // line's construction; times are its milliseconds.
    QElapsedTimer clock;
    bool drainDue = false;     // written since the last drain
    qint64 lineClearAt = 0;    // the wire carries all written bytes by then, at the earliest
    qint64 lastWriteBytes = 0; // the bytes of the last write
    qint64 drainStarted = 0;
    qint64 lingerUntil = -1; // -1: the server has not taken everything yet
    int barrierAnswers = 0;  // rate answers seen before the drain's question
    bool barrierAsked = false;
    QByteArray incoming; // the board's bytes, arrived and not yet read
    qint64 unreportedWrites = 0;
    quint64 arrivals = 0; // deliveries of the board's bytes
    bool waiting = false;
    Failure lastFailure = Failure::None;
};
