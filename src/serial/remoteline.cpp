#include "serial/remoteline.h"

#include <QMetaObject>
#include <QTcpSocket>
#include <QTimer>
#include <cstring>

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
// pulled.

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

} // namespace

RemoteLine::RemoteLine(QObject *parent)
    : QIODevice(parent), socket(new QTcpSocket(this)), deadline(new QTimer(this))
{
    deadline->setSingleShot(true);
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
        if (isOpening() && e != QAbstractSocket::RemoteHostClosedError)
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
    close();
}

void RemoteLine::startOpen(const PortUrl &portUrl, qint32 baudRate)
{
    close();
    url = portUrl;
    telnet = ComPortTelnet(baudRate);
    lastFailure = Failure::None;
    state = State::Connecting;
    attemptTime.start();
    deadline->start(OpenTimeoutMs);
    socket->connectToHost(url.host, url.port);
}

bool RemoteLine::waitForOpened()
{
    waiting = true;
    while (isOpening()) {
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

void RemoteLine::setBaudRate(qint32 baudRate)
{
    if (url.protocol != PortUrl::Protocol::Rfc2217 || state == State::Closed)
        return;
    telnet.setBaudRate(baudRate);
    socket->write(telnet.takeReplies());
}

void RemoteLine::close()
{
    deadline->stop();
    state = State::Closed;
    incoming.clear();
    unreportedWrites = 0;
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // Unread bytes would make the kernel answer the close with a reset, which may
        // throw away a command frame not yet sent.
        socket->readAll();
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
    }
    if (isOpen())
        QIODevice::close();
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
    incoming += data;
    if (url.protocol == PortUrl::Protocol::Rfc2217) {
        const QByteArray replies = telnet.takeReplies();
        if (!replies.isEmpty())
            socket->write(replies);
        if (state == State::Negotiating) {
            if (telnet.comPortRefused())
                finishOpening(Failure::ComPortRefused);
            else if (telnet.confirmedBaudRate() > 0)
                finishOpening(Failure::None);
            return;
        }
    }
    if (state == State::Open && !data.isEmpty()) {
        ++arrivals;
        emit readyRead();
    }
}

void RemoteLine::onSocketGone()
{
    if (isOpening()) {
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
    if (!isOpening())
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
