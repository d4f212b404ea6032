#include "boardlink.h"

#include "console.h"
#include "protocol/boardtext.h"
#include "protocol/commandframe.h"
#include "serial/serialport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

namespace {
// The window's poll interval.
constexpr int PollIntervalMs = 100;
// How often a lost port's path is looked for. The system's own announcement of a
// new port, where there is one, comes sooner.
constexpr int RetryIntervalMs = 250;
} // namespace

BoardLink::BoardLink(const PortTarget &target, qint32 baudRate, bool poll, QObject *parent)
    : QObject(parent), portTarget(target), pollTimer(new QTimer(this)), retryTimer(new QTimer(this))
{
    PortSettings settings;
    settings.baudRate = baudRate;
    port = new SerialPort(target.path, settings, SerialPort::EventDriven, this);
    connect(port, &QIODevice::readyRead, this, &BoardLink::readArrived);
    connect(port, &SerialPort::lineSilent, this,
            [this](int silentMs) { take(stream.lineSilent(silentMs)); });
    // However the port closes (the end of the run, the device gone), what is pending
    // is whole as far as this recording goes.
    connect(port, &QIODevice::aboutToClose, this, [this] {
        readArrived();
        take(stream.flush());
    });
    connect(port, &SerialPort::deviceLost, this, &BoardLink::onDeviceLost);
    // While open() waits the port is not open yet, and open() tells it as a failure.
    connect(port, &SerialPort::lineWarning, this, [this](const QString &text) {
        if (port->isOpen())
            Console::error(QStringLiteral("%1: %2").arg(portTarget.name, text));
    });
    connect(port, &SerialPort::openFinished, this, &BoardLink::reopened);

    pollTimer->setInterval(PollIntervalMs);
    connect(pollTimer, &QTimer::timeout, this, [this] {
        if (port->isOpen())
            port->write(reinterpret_cast<const char *>(pollFrame.data()), qint64(pollFrame.size()));
    });
    if (poll)
        pollTimer->start();

    retryTimer->setInterval(target.isRemote() ? RemoteLine::RetryIntervalMs : RetryIntervalMs);
    connect(retryTimer, &QTimer::timeout, this, &BoardLink::reconnect);
}

bool BoardLink::isOpen() const
{
    return port->isOpen();
}

bool BoardLink::open()
{
    stream.reset();
    rateFailure.clear();
    if (!port->open(QIODevice::ReadWrite))
        return false;
    // A board heard at another rate than its own gives garbage: the port is not open
    // as asked.
    rateFailure = port->rateProblem();
    if (rateFailure.isEmpty())
        return true;
    port->close();
    return false;
}

QString BoardLink::openFailure() const
{
    if (!rateFailure.isEmpty())
        return QStringLiteral("%1: %2").arg(portTarget.name, rateFailure);
    return portTarget.openFailure(*port);
}

void BoardLink::close()
{
    pollTimer->stop();
    retryTimer->stop();
    port->close();
}

void BoardLink::reconnect()
{
    if (port->isOpen() || port->isOpening() || !lostFor.isValid())
        return;
    // The node can be back a moment before udev has given it its group; the next try
    // opens it. A server is asked without waiting: the other boards go on meanwhile.
    if (!portTarget.isRemote() && !QFileInfo::exists(portTarget.path))
        return;
    stream.reset();
    port->startOpen(QIODevice::ReadWrite);
}

void BoardLink::reopened(bool opened)
{
    if (!opened || !lostFor.isValid())
        return;
    retryTimer->stop();
    const qint64 gap = lostFor.elapsed();
    lostFor.invalidate();
    ++tally.gaps;
    tally.gapMs += gap;
    emit returned(gap);
}

void BoardLink::readArrived()
{
    const QByteArray bytes = port->readAll();
    if (!bytes.isEmpty())
        take(stream.feed(bytes));
}

void BoardLink::take(const QVector<StreamItem> &items)
{
    if (items.isEmpty())
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const StreamItem &item : items) {
        switch (item.kind) {
        case StreamItem::Kind::Frame:
            ++tally.frames;
            emit frameAccepted({now, portTarget.name, item.telemetry});
            break;
        case StreamItem::Kind::Rejected:
            ++tally.rejected;
            break;
        case StreamItem::Kind::Text:
            tally.textBytes += item.bytes.size();
            for (QString line : boardText(item.bytes).split(QLatin1Char('\n'))) {
                while (line.endsWith(QLatin1Char('\r')))
                    line.chop(1);
                if (line.trimmed().isEmpty())
                    continue;
                ++tally.textLines;
                emit textLine(now, line.toUtf8());
            }
            break;
        }
    }
}

void BoardLink::onDeviceLost(const QString &reason)
{
    lostFor.start();
    retryTimer->start();
    emit lost(reason);
}
