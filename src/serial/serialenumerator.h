#pragma once

#include "serial/portinfo.h"

#include <QList>
#include <QObject>
#include <QStringList>

// Lists the serial ports present and reports ports that come and go.
// Notifications come from a libudev monitor where udevd runs, from a once-a-second
// poll of the port list elsewhere. Virtual ports (a simulator's pseudo-terminal,
// a socat link) are listed by path next to the ports the system enumerates.
class SerialEnumerator : public QObject
{
    Q_OBJECT

public:
    explicit SerialEnumerator(QObject *parent = nullptr);
    ~SerialEnumerator() override;

    // Starts enumerating the system's ports on a thread of its own, for the next
    // enumeration of this process to take instead of waiting for its own. The system's
    // enumeration is slow (libudev resolves every tty's sysfs path, 10 to 25 ms), and
    // the program's start has other work to do meanwhile. If a tty has come or gone
    // by the time the result is taken, the ports are enumerated afresh.
    static void enumerateAhead();

    // Ports present now, COM2 before COM10, every other pair by plain string order.
    static QList<PortInfo> getPorts();

    // The ports as the notifications last described them: those present when they
    // started, then every change since. Enumerates afresh, like getPorts(), while
    // notifications are off. The system's enumeration is slow (libudev resolves
    // every tty's sysfs path), so a caller that has just started the notifications
    // takes the list from here rather than enumerating a second time.
    QList<PortInfo> ports() const;

    // Starts the device-change notifications; reports every present port as
    // discovered first. Returns false, after logging "Setup Notification Failed...",
    // when neither udev nor polling can start.
    bool setUpNotifications();

    // Process-wide list of devices the system does not enumerate, listed while their
    // path exists, and of ports on other machines by their URL, always listed.
    static void addVirtualPort(const QString &path);
    static void removeVirtualPort(const QString &path);
    static QStringList virtualPorts();

    // Leaves out the ports the system enumerates, so that tests see only their own
    // virtual ports.
    static void setSystemPortsHidden(bool hidden);

    // Orders two port names the way getPorts() lists them.
    static bool portNameLess(const QString &a, const QString &b);

    // The ports of after that before lacks, and those of before that after lacks,
    // matched by portName; each in the order of its list.
    static void portListDifference(const QList<PortInfo> &before, const QList<PortInfo> &after,
                                   QList<PortInfo> *added, QList<PortInfo> *removed);

signals:
    void deviceDiscovered(const PortInfo &info);
    void deviceRemoved(const PortInfo &info);

private:
    class Private;
    Private *d;
};
