#pragma once

#include <QObject>
#include <QString>
#include <functional>

class SerialEnumerator;
struct PortInfo;

// Opens the link again when the port it lost comes back (the adapter plugged in
// again, the simulator restarted), while the technician wants that. A link the
// technician closed stays closed.
class LinkReopener : public QObject
{
    Q_OBJECT

public:
    // open tries to open the named port and tells whether it did.
    LinkReopener(SerialEnumerator *enumerator, std::function<bool(const QString &)> open,
                 QObject *parent = nullptr);

    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled; }

    // The device behind the open link went away.
    void linkLost(const QString &portName);
    // The technician opened or closed a link: nothing is waiting for a port.
    void forget();

private:
    void portDiscovered(const PortInfo &info);
    void tryOpen(int attempt);

    std::function<bool(const QString &)> open;
    bool enabled = false;
    QString lostPort;
};
