#include "serial/serialport.h"

#include <QMetaObject>
#include <QTimer>
#include <cstring>

// Bursts, not fragments.
//
// QSerialPort signals readyRead for whatever the kernel had at that moment. A USB
// adapter cuts the board's 72-byte frame into 64-byte bulk packets, and an FTDI chip
// holds bytes back until its 16 ms latency timer runs out, so one frame may reach us
// as 64 + 8 bytes or in three pieces with 16 ms of silence between them. The receiver
// reads everything available as one chunk and expects that chunk to be one frame.
//
// So bytes are gathered until the line has been silent for BurstGapMs, and only then
// is readyRead emitted, once, for the whole burst. 30 ms sits above the FTDI latency
// timer plus the scheduling jitter of a busy desktop, and well below the 50 ms and
// more that the board leaves between its frames, so pieces of one frame join and two
// frames stay apart. A line that never falls silent is still handed over in bounded
// pieces: after MaxBurstBytes, or MaxBurstMs after the burst began.
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
    : QIODevice(parent), port(new QSerialPort(this)), name(name), settings(settings), mode(mode),
      gapTimer(new QTimer(this)), burstTimer(new QTimer(this))
{
    gapTimer->setSingleShot(true);
    gapTimer->setTimerType(Qt::PreciseTimer);
    gapTimer->setInterval(BurstGapMs);
    burstTimer->setSingleShot(true);
    burstTimer->setTimerType(Qt::PreciseTimer);
    burstTimer->setInterval(MaxBurstMs);

    if (mode == EventDriven)
        connect(port, &QSerialPort::readyRead, this, &SerialPort::collectIncoming);
    connect(gapTimer, &QTimer::timeout, this, &SerialPort::deliverBurst);
    connect(burstTimer, &QTimer::timeout, this, &SerialPort::deliverBurst);
    connect(port, &QSerialPort::errorOccurred, this, &SerialPort::onError);
    connect(port, &QSerialPort::bytesWritten, this, &QIODevice::bytesWritten);
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
    if (isOpen() && baudRate > 0)
        port->setBaudRate(baudRate);
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
    lossQueued = false;
    // Unbuffered: the burst buffer below is the only one between QSerialPort and
    // the reader.
    return QIODevice::open(openMode | QIODevice::Unbuffered);
}

void SerialPort::close()
{
    gapTimer->stop();
    burstTimer->stop();
    pending.clear();
    delivered.clear();
    lossQueued = false;
    if (port->isOpen())
        port->close();
    if (isOpen())
        QIODevice::close();
}

QSerialPort::SerialPortError SerialPort::openError() const
{
    return lastOpenError;
}

bool SerialPort::isSequential() const
{
    return true;
}

qint64 SerialPort::bytesAvailable() const
{
    if (mode == Polling)
        return port->bytesAvailable() + QIODevice::bytesAvailable();
    return delivered.size() + QIODevice::bytesAvailable();
}

qint64 SerialPort::readData(char *data, qint64 maxSize)
{
    if (mode == Polling)
        return port->read(data, maxSize);
    const qint64 n = qMin<qint64>(maxSize, delivered.size());
    if (n <= 0)
        return 0;
    memcpy(data, delivered.constData(), size_t(n));
    delivered.remove(0, int(n));
    return n;
}

qint64 SerialPort::writeData(const char *data, qint64 size)
{
    return port->write(data, size);
}

void SerialPort::collectIncoming()
{
    const QByteArray bytes = port->readAll();
    if (bytes.isEmpty())
        return;
    if (pending.isEmpty())
        burstTimer->start();
    pending.append(bytes);
    if (pending.size() >= MaxBurstBytes)
        deliverBurst();
    else
        gapTimer->start();
}

void SerialPort::deliverBurst()
{
    gapTimer->stop();
    burstTimer->stop();
    if (pending.isEmpty())
        return;
    delivered.append(pending);
    pending.clear();
    emit readyRead();
}

void SerialPort::onError(QSerialPort::SerialPortError error)
{
    // A timeout or a refused setting leaves the device where it was; these two
    // are what a read on a vanished device gives.
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (lossQueued || !isOpen())
        return;
    lossQueued = true;
    // The errno behind a read that hit a hung-up line is often stale, so the
    // kind of failure goes first.
    const QString reason = (error == QSerialPort::ResourceError ? QStringLiteral("Device removed: ")
                                                                : QStringLiteral("Read failed: ")) +
                           port->errorString();
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
