#pragma once

#include "serial/comporttelnet.h"
#include "serial/porturl.h"

#include <QElapsedTimer>
#include <QIODevice>

class QTcpSocket;
class QTimer;

// The serial line of a board on another machine: a TCP connection to the serial port
// server there, with the COM port option for an rfc2217:// URL. Reads and writes the
// board's bytes like a local line; see remoteline.cpp for opening and losing it.
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

    explicit RemoteLine(QObject *parent = nullptr);
    ~RemoteLine() override;

    // Starts connecting; opened() or openFailed() tells how it went.
    void startOpen(const PortUrl &url, qint32 baudRate);
    // Waits for the attempt that startOpen() began, without turning the event loop,
    // and emits neither signal. True when the line is open.
    bool waitForOpened();
    bool isOpening() const { return state == State::Connecting || state == State::Negotiating; }
    Failure failure() const { return lastFailure; }

    // On an rfc2217:// line the server's port follows; a tcp:// line keeps its rate.
    void setBaudRate(qint32 baudRate);

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

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    enum class State { Closed, Connecting, Negotiating, Open };

    void onConnected();
    void onSocketReadyRead();
    void onSocketGone();
    void finishOpening(Failure failure, const QString &why = QString());

    QTcpSocket *socket;
    QTimer *deadline;
    QElapsedTimer attemptTime;
    State state = State::Closed;
    PortUrl url;
    ComPortTelnet telnet;
    QByteArray incoming; // the board's bytes, arrived and not yet read
    qint64 unreportedWrites = 0;
    quint64 arrivals = 0; // deliveries of the board's bytes
    bool waiting = false;
    Failure lastFailure = Failure::None;
};
