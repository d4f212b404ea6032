#include "serial/remoteline.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QTcpSocket>
#include <QTimer>
#include <cstring>
#include <linux/sockios.h>
#include <sys/ioctl.h>

// Opening.
//
// A connection attempt may meet a host that does not answer at all, and then
// takes as long as the kernel's SYN retries, minutes. The attempt therefore has
// OpenTimeoutMs, the COM port option's answer included: a line is open once the
// server has set the rate (rfc2217://), or as soon as the connection stands
// (tcp://). The window opens asynchronously and hears about the result by
// signal; keldro-cli, which has nothing else to do meanwhile, waits.
//
// Losing it.
//
// A stopped server, a rebooted rack computer or a broken network shows as the
// connection closed or failing. The line then reports lost() once and writes
// nothing more; the owner closes it, as it closes a local port whose adapter was
// pulled. A server that sends a subnegotiation ComPortTelnet cannot trust closes it
// too: what follows would be taken for the board's bytes.
//
// Closing without losing a command.
//
// A frame written to the socket is first in this process's buffer, then in the
// kernel's, then in the server's, and only then on the board's wire; ser2net throws
// away what it has not yet written to its port when the client hangs up. Closing as
// soon as the kernel had the frame lost one command in ten over raw TCP and one in
// twenty over RFC 2217. A line with bytes on their way therefore keeps its
// connection until
//   - the socket has handed every byte to the kernel;
//   - the server has taken them: on rfc2217:// it has answered a question about its
//     rate (SET-BAUDRATE 0), which it does only after it has handled every byte
//     before the question; on tcp:// the kernel counts no byte the server has not
//     acknowledged (SIOCOUTQ);
//   - the server has had the time to put them on its wire: the bytes' time at the
//     line's rate, from the moment it had them (10 bits a byte with start and stop
//     bit: a 12-byte command takes 1 ms at 115200 baud, 12.5 ms at 9600), and
//     ServerLatencyMs on top. 100 ms is ample for a server on a busy rack computer to
//     be scheduled, read its socket and write its port, and a client that waited
//     that long lost no command through ser2net; it costs one tenth of a second at
//     the end of keldro-cli send and at the close of a port that was just written to.
// A connection that breaks before then leaves the command not known to have arrived.
// keldro-cli send waits for all that before it says "sent"; a close does it after
// the line has closed, with the connection held a little longer.

namespace {

RemoteLine::Failure failureOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return RemoteLine::Failure::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
        return RemoteLine::Failure::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return RemoteLine::Failure::TimedOut;
    default:
        return RemoteLine::Failure::Other;
    }
}

// Bytes the kernel holds for the server, sent or not, that it has not acknowledged.
qint64 unacknowledgedBytes(const QTcpSocket *socket)
{
    int bytes = 0;
    if (::ioctl(int(socket->socketDescriptor()), SIOCOUTQ, &bytes) != 0)
        return 0;
    return bytes;
}

// What bytes take on the board's wire: 8N1 sends ten bits for each.
qint64 lineTimeMs(qint64 bytes, qint32 baudRate)
{
    return baudRate > 0 ? (bytes * 10 * 1000 + baudRate - 1) / baudRate : 0;
}

// A drain waits for things that no signal announces (the kernel's acknowledgement,
// the linger): it looks again this often.
constexpr int DrainPollMs = 5;

} // namespace

RemoteLine::RemoteLine(QObject *parent)
    : QIODevice(parent), socket(new QTcpSocket(this)), deadline(new QTimer(this)),
      drainTimer(new QTimer(this))
{
    clock.start();
    deadline->setSingleShot(true);
    drainTimer->setInterval(DrainPollMs);
    connect(drainTimer, &QTimer::timeout, this, [this] {
        if (advanceDrain() == Drain::Going && clock.elapsed() - drainStarted < DrainTimeoutMs)
            return;
        endDrain();
    });
    connect(deadline, &QTimer::timeout, this, [this] {
        finishOpening(state == State::Negotiating ? Failure::ComPortSilent : Failure::TimedOut);
    });
    connect(socket, &QTcpSocket::connected, this, &RemoteLine::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &RemoteLine::onSocketReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &RemoteLine::onSocketGone);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // A wait that found nothing reports a timeout; the attempt's time is kept here.
        if (e == QAbstractSocket::SocketTimeoutError)
            return;
        if (connecting() && e != QAbstractSocket::RemoteHostClosedError)
            finishOpening(failureOf(e), socket->errorString());
        else
            onSocketGone();
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        // The escaped bytes and Telnet's own are not the caller's: its writes count as
        // written once the socket has handed everything to the kernel.
        if (socket->bytesToWrite() > 0 || unreportedWrites == 0)
            return;
        const qint64 written = unreportedWrites;
        unreportedWrites = 0;
        emit bytesWritten(written);
    });
}

RemoteLine::~RemoteLine()
{
    // The program is closing: what is on its way still goes out, as after a close.
    close();
    openAfterDrain = false;
    if (state == State::Draining) {
        drainWithin(int(DrainTimeoutMs - (clock.elapsed() - drainStarted)));
        endDrain();
    }
}

void RemoteLine::startOpen(const PortUrl &portUrl, qint32 rate)
{
    close();
    url = portUrl;
    baudRate = rate;
    lastFailure = Failure::None;
    // The server serves its port to one client at a time: the new connection waits
    // until the old one has seen its bytes out.
    if (state == State::Draining)
        openAfterDrain = true;
    else
        connectNow();
}

void RemoteLine::connectNow()
{
    telnet = ComPortTelnet(baudRate);
    reportedRate = 0;
    drainDue = false;
    state = State::Connecting;
    attemptTime.start();
    deadline->start(OpenTimeoutMs);
    socket->connectToHost(url.host, url.port);
}

bool RemoteLine::waitForOpened()
{
    waiting = true;
    if (state == State::Draining) {
        drainWithin(int(DrainTimeoutMs - (clock.elapsed() - drainStarted)));
        endDrain();
    }
    while (connecting()) {
        const int left = int(OpenTimeoutMs - attemptTime.elapsed());
        const State before = state;
        const bool ready =
            left > 0 && (state == State::Connecting ? socket->waitForConnected(left)
                                                    : socket->waitForReadyRead(left));
        if (state != before || ready)
            continue;
        if (left <= 0 || socket->error() == QAbstractSocket::SocketTimeoutError)
            finishOpening(state == State::Negotiating ? Failure::ComPortSilent : Failure::TimedOut);
        else
            finishOpening(failureOf(socket->error()), socket->errorString());
    }
    waiting = false;
    return state == State::Open;
}

void RemoteLine::setBaudRate(qint32 rate)
{
    baudRate = rate;
    if (url.protocol != PortUrl::Protocol::Rfc2217 || (state != State::Open && !connecting()))
        return;
    telnet.setBaudRate(rate);
    socket->write(telnet.takeReplies());
}

bool RemoteLine::waitForWrittenOut(int msecs)
{
    if (state != State::Open)
        return false;
    if (!drainDue)
        return true;
    startDrain();
    return drainWithin(msecs) && state == State::Open;
}

void RemoteLine::close()
{
    deadline->stop();
    openAfterDrain = false;
    incoming.clear();
    unreportedWrites = 0;
    if (state == State::Open && drainDue && socket->state() == QAbstractSocket::ConnectedState) {
        state = State::Draining;
        startDrain();
        drainTimer->start();
    } else if (state != State::Draining) {
        state = State::Closed;
        drainDue = false;
        disconnectSocket();
    }
    if (isOpen())
        QIODevice::close();
}

void RemoteLine::startDrain()
{
    drainStarted = clock.elapsed();
    lingerUntil = -1;
    barrierAnswers = telnet.rateAnswers();
    barrierAsked = false;
    if (url.protocol == PortUrl::Protocol::Rfc2217) {
        telnet.askBaudRate();
        const QByteArray question = telnet.takeReplies();
        barrierAsked = !question.isEmpty();
        socket->write(question);
    }
}

RemoteLine::Drain RemoteLine::advanceDrain()
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return Drain::Failed;
    const qint64 now = clock.elapsed();
    if (lingerUntil < 0) {
        if (socket->bytesToWrite() > 0)
            return Drain::Going;
        const bool taken =
            barrierAsked ? telnet.rateAnswers() > barrierAnswers : unacknowledgedBytes(socket) == 0;
        if (!taken)
            return Drain::Going;
        lingerUntil =
            qMax(lineClearAt, now + lineTimeMs(lastWriteBytes, baudRate)) + ServerLatencyMs;
    }
    if (now < lingerUntil)
        return Drain::Going;
    drainDue = false;
    return Drain::Done;
}

bool RemoteLine::drainWithin(int msecs)
{
    const QDeadlineTimer until(qMax(0, msecs));
    for (;;) {
        const Drain result = advanceDrain();
        if (result != Drain::Going)
            return result == Drain::Done;
        if (until.hasExpired())
            return false;
        // The server's answer comes as bytes to read; readyRead() decodes them.
        const int wait = int(qMin<qint64>(until.remainingTime(), DrainPollMs));
        if (socket->bytesToWrite() > 0)
            socket->waitForBytesWritten(wait);
        else
            socket->waitForReadyRead(wait);
    }
}

void RemoteLine::endDrain()
{
    if (state != State::Draining)
        return;
    drainTimer->stop();
    drainDue = false;
    state = State::Closed;
    disconnectSocket();
    if (openAfterDrain) {
        openAfterDrain = false;
        connectNow();
    }
}

void RemoteLine::disconnectSocket()
{
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // Unread bytes would make the kernel answer the close with a reset, which may
        // throw away a command frame not yet sent.
        socket->readAll();
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
    }
}

qint64 RemoteLine::bytesAvailable() const
{
    return incoming.size() + QIODevice::bytesAvailable();
}

bool RemoteLine::waitForReadyRead(int msecs)
{
    if (state != State::Open)
        return false;
    // Whoever listens to readyRead() may have taken the bytes already, so arrivals
    // are counted rather than the buffer measured.
    const quint64 before = arrivals;
    socket->waitForReadyRead(msecs);
    return arrivals != before;
}

qint64 RemoteLine::readData(char *data, qint64 maxSize)
{
    const qint64 n = qMin<qint64>(maxSize, incoming.size());
    if (n <= 0)
        return 0;
    memcpy(data, incoming.constData(), size_t(n));
    incoming.remove(0, int(n));
    return n;
}

qint64 RemoteLine::writeData(const char *data, qint64 size)
{
    if (state != State::Open)
        return -1;
    const QByteArray bytes(data, int(size));
    const QByteArray wire =
        url.protocol == PortUrl::Protocol::Rfc2217 ? ComPortTelnet::escape(bytes) : bytes;
    if (socket->write(wire) != wire.size())
        return -1;
    unreportedWrites += size;
    const qint64 now = clock.elapsed();
    lineClearAt = qMax(lineClearAt, now) + lineTimeMs(size, baudRate);
    lastWriteBytes = size;
    drainDue = true;
    return size;
}

void RemoteLine::onConnected()
{
    if (state != State::Connecting)
        return;
    // A poll or a command is a dozen bytes that should leave at once, not wait for
    // the acknowledgement of the one before.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (url.protocol == PortUrl::Protocol::RawTcp) {
        finishOpening(Failure::None);
        return;
    }
    state = State::Negotiating;
    socket->write(telnet.opening());
}

void RemoteLine::onSocketReadyRead()
{
    if (state == State::Closed)
        return;
    const QByteArray bytes = socket->readAll();
    const QByteArray data =
        url.protocol == PortUrl::Protocol::RawTcp ? bytes : telnet.decode(bytes);
    // A line that is closing only listens for the server's answer.
    if (state == State::Draining) {
        if (telnet.isMalformed())
            endDrain();
        else
            socket->write(telnet.takeReplies());
        return;
    }
    incoming += data;
    if (url.protocol == PortUrl::Protocol::Rfc2217) {
        const QByteArray replies = telnet.takeReplies();
        if (!replies.isEmpty() && !telnet.isMalformed())
            socket->write(replies);
        if (state == State::Negotiating) {
            if (telnet.isMalformed())
                finishOpening(Failure::Other,
                              tr("the server sent a malformed Telnet subnegotiation"));
            else if (telnet.comPortRefused())
                finishOpening(Failure::ComPortRefused);
            else if (telnet.confirmedBaudRate() > 0)
                finishOpening(Failure::None);
            if (state == State::Open)
                checkRate();
            return;
        }
    }
    if (state == State::Open && !data.isEmpty()) {
        ++arrivals;
        emit readyRead();
    }
    if (state != State::Open)
        return;
    if (telnet.isMalformed()) {
        state = State::Closed;
        socket->abort();
        emit lost(tr("Connection to %1 closed: the server sent a malformed Telnet subnegotiation")
                      .arg(url.hostAndPort()));
        return;
    }
    checkRate();
}

void RemoteLine::checkRate()
{
    const qint32 set = telnet.confirmedBaudRate();
    if (set <= 0 || set == reportedRate)
        return;
    if (set == telnet.wantedBaudRate()) {
        reportedRate = 0;
        return;
    }
    reportedRate = set;
    emit baudRateDiffers(set, telnet.wantedBaudRate());
}

void RemoteLine::onSocketGone()
{
    if (state == State::Draining) {
        endDrain();
        return;
    }
    if (connecting()) {
        // ser2net says why before it hangs up, "Port already in use" for one.
        const QString said = QString::fromLatin1(incoming.left(120)).simplified();
        finishOpening(Failure::Other, said.isEmpty()
                                          ? tr("the server closed the connection")
                                          : tr("the server closed the connection: %1").arg(said));
        return;
    }
    if (state != State::Open)
        return;
    state = State::Closed;
    const QString reason =
        socket->error() == QAbstractSocket::RemoteHostClosedError ||
                socket->error() == QAbstractSocket::UnknownSocketError
            ? tr("Connection closed by the server at %1").arg(url.hostAndPort())
            : tr("Connection to %1 lost: %2").arg(url.hostAndPort(), socket->errorString());
    emit lost(reason);
}

void RemoteLine::finishOpening(Failure failure, const QString &why)
{
    if (!connecting())
        return;
    deadline->stop();
    lastFailure = failure;
    if (failure != Failure::None) {
        state = State::Closed;
        setErrorString(why);
        socket->abort();
        if (!waiting)
            emit openFailed();
        return;
    }
    state = State::Open;
    QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    // The board may have spoken while the option was being agreed.
    if (!incoming.isEmpty())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (state == State::Open && !incoming.isEmpty())
                    emit readyRead();
            },
            Qt::QueuedConnection);
    if (!waiting)
        emit opened();
}
