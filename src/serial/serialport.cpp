#include "serial/serialport.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QTimer>
#include <cstring>

// Bytes as they come, and the silence after them.
//
// QSerialPort signals readyRead for whatever the kernel had at that moment: a USB
// adapter cuts the board's 72-byte frame into 64-byte bulk packets, and an FTDI chip
// holds bytes back until its 16 ms latency timer runs out. The port hands every
// piece on at once, so that a frame can be taken the moment its last byte is here,
// and says when the line has been silent for BurstGapMs: only then is text whole.
// 30 ms sits above the FTDI latency timer plus the scheduling jitter of a busy
// desktop, and well below the 50 ms and more that the board leaves between bursts.
// A frame, though, can stall inside for longer: a Bluetooth serial bridge, a CH340
// adapter or USB passed into a virtual machine hold bytes back for tens or hundreds
// of milliseconds. So the port tells the silence once more at LongGapMs, when a frame
// still unfinished is given up.
//
// The silence is judged by a timer on the reader's thread. When that thread was
// held up (a long repaint, a stopped process), the timer is overdue while the bytes
// that came meanwhile still wait in the kernel, so before silence is declared the
// line is asked once more whether anything is waiting.
//
// A vanished device.
//
// When the device behind an open QSerialPort goes away (USB adapter unplugged, pty
// master closed), Qt 5.15 on Linux keeps the descriptor open and its read notifier
// fires without end, reporting ReadError or ResourceError hundreds of thousands of
// times a second while isOpen() stays true. The port therefore closes itself on the
// first such error. The close is queued, because QSerialPort is in the middle of its
// own notifier when it reports the error; the errors that arrive until then are
// ignored.

SerialPort::SerialPort(const QString &name, const PortSettings &settings, QueryMode mode,
                       QObject *parent)
    : QIODevice(parent), port(new QSerialPort(this)), remote(new RemoteLine(this)), link(port),
      name(name), settings(settings), mode(mode), gapTimer(new QTimer(this))
{
    gapTimer->setSingleShot(true);
    gapTimer->setTimerType(Qt::PreciseTimer);

    if (mode == EventDriven) {
        connect(port, &QSerialPort::readyRead, this, &SerialPort::collectIncoming);
        connect(remote, &QIODevice::readyRead, this, &SerialPort::collectIncoming);
    }
    connect(gapTimer, &QTimer::timeout, this, &SerialPort::endBurst);
    connect(port, &QSerialPort::errorOccurred, this, &SerialPort::onError);
    connect(port, &QSerialPort::bytesWritten, this, &QIODevice::bytesWritten);
    connect(remote, &QIODevice::bytesWritten, this, &QIODevice::bytesWritten);
    connect(remote, &RemoteLine::lost, this, &SerialPort::queueLoss);
    connect(remote, &RemoteLine::opened, this,
            [this] { emit openFinished(openOver(remote, pendingMode)); });
    connect(remote, &RemoteLine::openFailed, this, [this] {
        setErrorString(remote->errorString());
        emit openFinished(false);
    });
    connect(remote, &RemoteLine::baudRateDiffers, this, [this] {
        if (const QString problem = rateProblem(); !problem.isEmpty())
            emit lineWarning(problem);
    });
}

SerialPort::~SerialPort()
{
    close();
}

void SerialPort::setPortName(const QString &name)
{
    this->name = name;
}

QString SerialPort::portName() const
{
    return name;
}

void SerialPort::setBaudRate(qint32 baudRate)
{
    if (baudRate == settings.baudRate)
        return;
    settings.baudRate = baudRate;
    if (isOpen() && baudRate > 0) {
        port->setBaudRate(baudRate);
        remote->setBaudRate(baudRate);
    }
}

qint32 SerialPort::baudRate() const
{
    return settings.baudRate;
}

SerialPort::QueryMode SerialPort::queryMode() const
{
    return mode;
}

bool SerialPort::open(OpenMode openMode)
{
    if (isOpen())
        return true;
    lastOpenError = QSerialPort::NoError;
    // Rate 0 would reach termios as B0, which hangs the line up instead of failing.
    if (name.isEmpty() || settings.baudRate <= 0)
        return false;
    if (PortUrl::isUrl(name)) {
        if (!startRemote())
            return false;
        if (remote->waitForOpened())
            return openOver(remote, openMode);
        setErrorString(remote->errorString());
        return false;
    }

    // A closed QSerialPort only stores these; its open applies them to the line.
    port->setPortName(name);
    port->setBaudRate(settings.baudRate);
    port->setDataBits(settings.dataBits);
    port->setParity(settings.parity);
    port->setStopBits(settings.stopBits);
    port->setFlowControl(settings.flowControl);
    if (!port->open(openMode & QIODevice::ReadWrite)) {
        lastOpenError = port->error();
        setErrorString(port->errorString());
        return false;
    }
    return openOver(port, openMode);
}

void SerialPort::startOpen(OpenMode openMode)
{
    if (isOpen() || !PortUrl::isUrl(name)) {
        emit openFinished(open(openMode));
        return;
    }
    lastOpenError = QSerialPort::NoError;
    pendingMode = openMode;
    if (settings.baudRate <= 0 || !startRemote())
        emit openFinished(false);
}

bool SerialPort::isOpening() const
{
    return remote->isOpening();
}

bool SerialPort::startRemote()
{
    QString error;
    const std::optional<PortUrl> url = PortUrl::parse(name, &error);
    if (!url) {
        setErrorString(error);
        return false;
    }
    remote->startOpen(*url, settings.baudRate);
    return true;
}

bool SerialPort::openOver(QIODevice *line, OpenMode openMode)
{
    link = line;
    lossQueued = false;
    // Unbuffered: the buffer below is the only one between the line and the reader.
    return QIODevice::open(openMode | QIODevice::Unbuffered);
}

void SerialPort::close()
{
    // First, so that readers can still take what was delivered on aboutToClose.
    if (isOpen())
        QIODevice::close();
    gapTimer->stop();
    delivered.clear();
    lossQueued = false;
    if (port->isOpen())
        port->close();
    remote->close();
}

QSerialPort::SerialPortError SerialPort::openError() const
{
    return lastOpenError;
}

RemoteLine::Failure SerialPort::remoteOpenError() const
{
    return remote->failure();
}

QString SerialPort::rateProblem() const
{
    const qint32 set = remote->confirmedBaudRate();
    if (!PortUrl::isUrl(name) || set <= 0 || set == settings.baudRate)
        return QString();
    return tr("the server set %1 baud, not %2").arg(set).arg(settings.baudRate);
}

bool SerialPort::waitForWrittenOut(int msecs)
{
    if (!isOpen())
        return false;
    if (link == remote)
        return remote->waitForWrittenOut(msecs);
    const QDeadlineTimer until(msecs);
    while (port->bytesToWrite() > 0)
        if (until.hasExpired() || !port->waitForBytesWritten(int(until.remainingTime())))
            return false;
    return true;
}

bool SerialPort::isSequential() const
{
    return true;
}

qint64 SerialPort::bytesAvailable() const
{
    if (mode == Polling)
        return link->bytesAvailable() + QIODevice::bytesAvailable();
    return delivered.size() + QIODevice::bytesAvailable();
}

qint64 SerialPort::readData(char *data, qint64 maxSize)
{
    if (mode == Polling)
        return link->read(data, maxSize);
    const qint64 n = qMin<qint64>(maxSize, delivered.size());
    if (n <= 0)
        return 0;
    memcpy(data, delivered.constData(), size_t(n));
    delivered.remove(0, int(n));
    return n;
}

qint64 SerialPort::writeData(const char *data, qint64 size)
{
    return link->write(data, size);
}

void SerialPort::collectIncoming()
{
    const QByteArray bytes = link->readAll();
    if (bytes.isEmpty())
        return;
    delivered.append(bytes);
    sinceLastBytes.start();
    dueSilenceMs = BurstGapMs;
    gapTimer->start(BurstGapMs);
    emit readyRead();
}

void SerialPort::endBurst()
{
    // Bytes still in the kernel mean the line was not silent, only this thread was
    // busy; reading them restarts the gap timer.
    if (link->isOpen() && link->waitForReadyRead(0) && gapTimer->isActive())
        return;
    if (!isOpen())
        return;
    const int silentMs = int(qMax<qint64>(dueSilenceMs, sinceLastBytes.elapsed()));
    if (silentMs < LongGapMs) {
        dueSilenceMs = LongGapMs;
        gapTimer->start(LongGapMs - silentMs);
    }
    emit lineSilent(silentMs);
}

void SerialPort::onError(QSerialPort::SerialPortError error)
{
    // A timeout or a refused setting leaves the device where it was; these two
    // are what a read on a vanished device gives.
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (lossQueued || !isOpen())
        return;
    // The errno behind a read that hit a hung-up line is often stale, so the
    // kind of failure goes first.
    const QString reason = (error == QSerialPort::ResourceError ? QStringLiteral("Device removed: ")
                                                                : QStringLiteral("Read failed: ")) +
                           port->errorString();
    queueLoss(reason);
}

void SerialPort::queueLoss(const QString &reason)
{
    if (lossQueued || !isOpen())
        return;
    lossQueued = true;
    QMetaObject::invokeMethod(
        this, [this, reason] { dropLostDevice(reason); }, Qt::QueuedConnection);
}

void SerialPort::dropLostDevice(const QString &reason)
{
    // Cleared by a close() in the meantime: the port the window has now is
    // not the one that failed.
    if (!lossQueued)
        return;
    close();
    emit deviceLost(reason);
}
