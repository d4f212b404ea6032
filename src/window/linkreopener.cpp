#include "window/linkreopener.h"

#include "serial/porturl.h"
#include "serial/remoteline.h"
#include "serial/serialenumerator.h"

#include <QTimer>

namespace {

// A port that has just appeared may still be held for a moment: udev rules set
// its group, ModemManager probes a new ttyACM. A few tries a second apart ride
// that out. A port on another machine announces nothing: its server is called
// again and again until it answers.
constexpr int ReopenAttempts = 3;
constexpr int ReopenRetryMs = 1000;

} // namespace

LinkReopener::LinkReopener(SerialEnumerator *enumerator, std::function<bool(const QString &)> open,
                           QObject *parent)
    : QObject(parent), open(std::move(open)), retryTimer(new QTimer(this))
{
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &LinkReopener::tryOpen);
    // Queued: the window refills its port list on the same signal first.
    connect(enumerator, &SerialEnumerator::deviceDiscovered, this, &LinkReopener::portDiscovered,
            Qt::QueuedConnection);
}

void LinkReopener::setEnabled(bool on)
{
    enabled = on;
    if (enabled && PortUrl::isUrl(lostPort) && !attempting)
        tryOpen();
}

void LinkReopener::linkLost(const QString &portName)
{
    lostPort = portName;
    attempt = 0;
    if (PortUrl::isUrl(portName))
        retryTimer->start(RemoteLine::RetryIntervalMs);
}

void LinkReopener::forget()
{
    lostPort.clear();
    attempting = false;
    retryTimer->stop();
}

void LinkReopener::openFinished(bool opened)
{
    if (!attempting)
        return;
    attempting = false;
    if (opened)
        lostPort.clear();
    else
        retryLater();
}

void LinkReopener::portDiscovered(const PortInfo &info)
{
    if (!enabled || lostPort.isEmpty() || info.portName != lostPort || attempting)
        return;
    attempt = 0;
    tryOpen();
}

void LinkReopener::tryOpen()
{
    if (!enabled || lostPort.isEmpty() || attempting)
        return;
    ++attempt;
    attempting = true;
    // A device opens at once, and openFinished() has come by the time open returns.
    if (!open(lostPort) && attempting) {
        attempting = false;
        retryLater();
    }
}

void LinkReopener::retryLater()
{
    if (lostPort.isEmpty())
        return;
    if (PortUrl::isUrl(lostPort))
        retryTimer->start(RemoteLine::RetryIntervalMs);
    else if (attempt < ReopenAttempts)
        retryTimer->start(ReopenRetryMs);
}
