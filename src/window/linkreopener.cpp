#include "window/linkreopener.h"

#include "serial/serialenumerator.h"

#include <QTimer>

namespace {

// A port that has just appeared may still be held for a moment: udev rules set
// its group, ModemManager probes a new ttyACM. A few tries a second apart ride
// that out.
constexpr int ReopenAttempts = 3;
constexpr int ReopenRetryMs = 1000;

} // namespace

LinkReopener::LinkReopener(SerialEnumerator *enumerator, std::function<bool(const QString &)> open,
                           QObject *parent)
    : QObject(parent), open(std::move(open))
{
    // Queued: the window refills its port list on the same signal first.
    connect(enumerator, &SerialEnumerator::deviceDiscovered, this, &LinkReopener::portDiscovered,
            Qt::QueuedConnection);
}

void LinkReopener::setEnabled(bool on)
{
    enabled = on;
}

void LinkReopener::linkLost(const QString &portName)
{
    lostPort = portName;
}

void LinkReopener::forget()
{
    lostPort.clear();
}

void LinkReopener::portDiscovered(const PortInfo &info)
{
    if (!enabled || lostPort.isEmpty() || info.portName != lostPort)
        return;
    tryOpen(1);
}

void LinkReopener::tryOpen(int attempt)
{
    if (!enabled || lostPort.isEmpty())
        return;
    const QString port = lostPort;
    if (open(port)) {
        lostPort.clear();
        return;
    }
    if (attempt < ReopenAttempts)
        QTimer::singleShot(ReopenRetryMs, this, [this, attempt] { tryOpen(attempt + 1); });
}
