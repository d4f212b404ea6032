#include "serial/serialenumerator.h"

#include "serial/porturl.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <future>

#ifdef KELDRO_HAVE_UDEV
#include <libudev.h>
#endif

namespace {

// The enumerator lives on the GUI thread with everything else of the tool, so
// this process-wide state needs no lock.
QStringList &virtualPortList()
{
    static QStringList paths;
    return paths;
}

bool &systemPortsHiddenFlag()
{
    static bool hidden = false;
    return hidden;
}

QList<SerialEnumerator *> &notifyingEnumerators()
{
    static QList<SerialEnumerator *> enumerators;
    return enumerators;
}

// A second is quick enough for a person plugging in a cable.
constexpr int PollIntervalMs = 1000;

// QSerialPortInfo::availablePorts() walks every tty of the system through libudev
// or sysfs, some 3000 file opens and 20 ms of CPU on an ordinary Linux box: once a
// second that alone would be 2 % of a core. Every serial device, whatever its
// driver, has an entry in this folder, so the poll reads its listing, which is
// cheap, and enumerates only when the listing has changed.
const char SysfsTtyPath[] = "/sys/class/tty";

// udevd announces a new tty once its rules have run; Qt's own enumeration reads
// the same database but may lag behind for a moment, so the list is read once more.
constexpr int UdevSettleMs = 500;

const char UdevControlPath[] = "/run/udev/control";

qint64 comNumber(const QString &name)
{
    qint64 number = 0;
    for (int i = 3; i < name.size() && name.at(i).isDigit() && number < 1000000000; ++i)
        number = number * 10 + name.at(i).digitValue();
    return number;
}

QStringList sysfsTtyListing()
{
    return QDir(QString::fromLatin1(SysfsTtyPath))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

// Touches no state of the program's own, so that it can run on another thread.
QList<PortInfo> enumerateSystemPorts()
{
    QList<PortInfo> ports;
    const QList<QSerialPortInfo> present = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &system : present) {
        PortInfo info;
        info.portName = system.portName();
        info.physName = system.systemLocation();
        info.friendName = system.description();
        info.enumName = QStringLiteral("system");
        info.vendorID = system.hasVendorIdentifier() ? system.vendorIdentifier() : 0;
        info.productID = system.hasProductIdentifier() ? system.productIdentifier() : 0;
        info.serialNumber = system.serialNumber();
        ports.append(info);
    }
    return ports;
}

struct AheadEnumeration
{
    QStringList ttys; // the sysfs listing just before the enumeration
    QList<PortInfo> ports;
};

std::future<AheadEnumeration> &aheadEnumeration()
{
    static std::future<AheadEnumeration> enumeration;
    return enumeration;
}

QList<PortInfo> systemPorts()
{
    if (aheadEnumeration().valid()) {
        const AheadEnumeration ahead = aheadEnumeration().get();
        // A tty that came or went since then is enumerated afresh below.
        if (!systemPortsHiddenFlag() && ahead.ttys == sysfsTtyListing())
            return ahead.ports;
    }
    if (systemPortsHiddenFlag())
        return {};
    return enumerateSystemPorts();
}

// Listed by path, and only while the path exists: the pty of a simulator that
// has quit is gone like an unplugged adapter. A port on another machine is always
// listed: only connecting tells whether its server is there.
QList<PortInfo> presentVirtualPorts()
{
    QList<PortInfo> ports;
    for (const QString &path : qAsConst(virtualPortList())) {
        PortInfo info;
        info.portName = path;
        info.physName = path;
        info.enumName = QStringLiteral("virtual");
        if (const std::optional<PortUrl> url = PortUrl::parse(path)) {
            info.enumName = QStringLiteral("network");
            info.friendName = url->protocol == PortUrl::Protocol::Rfc2217
                                  ? QStringLiteral("RFC 2217 port server")
                                  : QStringLiteral("Raw TCP port server");
        } else if (!QFileInfo::exists(path)) {
            continue;
        }
        ports.append(info);
    }
    return ports;
}

QList<PortInfo> sortedPorts(QList<PortInfo> ports)
{
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo &a, const PortInfo &b) {
        return SerialEnumerator::portNameLess(a.portName, b.portName);
    });
    return ports;
}

} // namespace

class SerialEnumerator::Private
{
public:
    explicit Private(SerialEnumerator *q) : q(q) {}
    ~Private();

    bool startUdev();
    void readUdevEvents();
    void updatePolling();
    bool systemTtysChanged();
    void rescan(bool enumerateSystem);

    SerialEnumerator *q;
    bool notifying = false;
    QList<PortInfo> known; // what the last notifications described
    QList<PortInfo> systemKnown;
    QStringList sysfsTtys;
    bool recheckSystem = false;
    QTimer *pollTimer = nullptr;
    QTimer *settleTimer = nullptr;
    QSocketNotifier *udevNotifier = nullptr;
#ifdef KELDRO_HAVE_UDEV
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
#endif
};

SerialEnumerator::Private::~Private()
{
    delete udevNotifier;
#ifdef KELDRO_HAVE_UDEV
    if (monitor)
        udev_monitor_unref(monitor);
    if (context)
        udev_unref(context);
#endif
}

bool SerialEnumerator::Private::startUdev()
{
#ifdef KELDRO_HAVE_UDEV
    // Without udevd (containers, some minimal systems) a monitor would open fine
    // and never report anything.
    if (!QFileInfo::exists(QString::fromLatin1(UdevControlPath)))
        return false;
    context = udev_new();
    if (!context)
        return false;
    monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor)
            udev_monitor_unref(monitor);
        udev_unref(context);
        monitor = nullptr;
        context = nullptr;
        return false;
    }
    udevNotifier = new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read);
    QObject::connect(udevNotifier, &QSocketNotifier::activated, q, [this] { readUdevEvents(); });
    settleTimer = new QTimer(q);
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(UdevSettleMs);
    QObject::connect(settleTimer, &QTimer::timeout, q, [this] { rescan(true); });
    return true;
#else
    return false;
#endif
}

void SerialEnumerator::Private::readUdevEvents()
{
#ifdef KELDRO_HAVE_UDEV
    // The event only says that something changed; the list is read afresh, so
    // events that come in a heap are drained and handled as one.
    while (udev_device *device = udev_monitor_receive_device(monitor))
        udev_device_unref(device);
    rescan(true);
    settleTimer->start();
#endif
}

void SerialEnumerator::Private::updatePolling()
{
    // udev says nothing about a pseudo-terminal whose master goes away, so the
    // poll runs beside it while virtual ports are registered.
    const bool needed = notifying && (!udevNotifier || !virtualPortList().isEmpty());
    if (!needed) {
        if (pollTimer)
            pollTimer->stop();
        return;
    }
    if (!pollTimer) {
        pollTimer = new QTimer(q);
        pollTimer->setInterval(PollIntervalMs);
        QObject::connect(pollTimer, &QTimer::timeout, q,
                         [this] { rescan(!udevNotifier && systemTtysChanged()); });
    }
    if (!pollTimer->isActive())
        pollTimer->start();
}

bool SerialEnumerator::Private::systemTtysChanged()
{
    if (!QFileInfo::exists(QString::fromLatin1(SysfsTtyPath)))
        return true;
    const QStringList ttys = sysfsTtyListing();
    // A tty can show up here a moment before Qt's enumeration reports it (udev
    // rules still running), so a change is followed by one more enumeration.
    const bool changed = ttys != sysfsTtys || recheckSystem;
    recheckSystem = ttys != sysfsTtys;
    sysfsTtys = ttys;
    return changed;
}

void SerialEnumerator::Private::rescan(bool enumerateSystem)
{
    if (enumerateSystem)
        systemKnown = systemPorts();
    const QList<PortInfo> now = sortedPorts(systemKnown + presentVirtualPorts());
    QList<PortInfo> added;
    QList<PortInfo> removed;
    portListDifference(known, now, &added, &removed);
    known = now;
    for (const PortInfo &info : qAsConst(removed))
        emit q->deviceRemoved(info);
    for (const PortInfo &info : qAsConst(added))
        emit q->deviceDiscovered(info);
}

SerialEnumerator::SerialEnumerator(QObject *parent) : QObject(parent), d(new Private(this))
{
    // The window connects by signature string; queued delivery needs the name too.
    qRegisterMetaType<PortInfo>("PortInfo");
}

SerialEnumerator::~SerialEnumerator()
{
    notifyingEnumerators().removeAll(this);
    delete d;
}

void SerialEnumerator::enumerateAhead()
{
    if (aheadEnumeration().valid())
        return;
    aheadEnumeration() = std::async(std::launch::async, [] {
        AheadEnumeration ahead;
        ahead.ttys = sysfsTtyListing();
        ahead.ports = enumerateSystemPorts();
        return ahead;
    });
}

QList<PortInfo> SerialEnumerator::getPorts()
{
    return sortedPorts(systemPorts() + presentVirtualPorts());
}

QList<PortInfo> SerialEnumerator::ports() const
{
    return d->notifying ? d->known : getPorts();
}

bool SerialEnumerator::setUpNotifications()
{
    if (d->notifying)
        return true;
    const bool udevStarted = d->startUdev();
    // Both the udev notifier and the poll timer need this thread's event loop.
    if (!udevStarted && !QAbstractEventDispatcher::instance(thread())) {
        qWarning("Setup Notification Failed...");
        return false;
    }
    d->notifying = true;
    notifyingEnumerators().append(this);
    d->updatePolling();
    d->known.clear();
    d->systemTtysChanged();
    d->rescan(true);
    return true;
}

void SerialEnumerator::addVirtualPort(const QString &path)
{
    if (virtualPortList().contains(path))
        return;
    virtualPortList().append(path);
    const QList<SerialEnumerator *> enumerators = notifyingEnumerators();
    for (SerialEnumerator *enumerator : enumerators) {
        enumerator->d->updatePolling();
        enumerator->d->rescan(false);
    }
}

void SerialEnumerator::removeVirtualPort(const QString &path)
{
    if (!virtualPortList().removeAll(path))
        return;
    const QList<SerialEnumerator *> enumerators = notifyingEnumerators();
    for (SerialEnumerator *enumerator : enumerators) {
        enumerator->d->updatePolling();
        enumerator->d->rescan(false);
    }
}

QStringList SerialEnumerator::virtualPorts()
{
    return virtualPortList();
}

void SerialEnumerator::setSystemPortsHidden(bool hidden)
{
    systemPortsHiddenFlag() = hidden;
    const QList<SerialEnumerator *> enumerators = notifyingEnumerators();
    for (SerialEnumerator *enumerator : enumerators)
        enumerator->d->rescan(true);
}

bool SerialEnumerator::portNameLess(const QString &a, const QString &b)
{
    const QString com = QStringLiteral("COM");
    if (a.startsWith(com) && b.startsWith(com))
        return comNumber(a) < comNumber(b);
    return a < b;
}

void SerialEnumerator::portListDifference(const QList<PortInfo> &before,
                                          const QList<PortInfo> &after, QList<PortInfo> *added,
                                          QList<PortInfo> *removed)
{
    QSet<QString> beforeNames;
    for (const PortInfo &info : before)
        beforeNames.insert(info.portName);
    QSet<QString> afterNames;
    for (const PortInfo &info : after)
        afterNames.insert(info.portName);

    added->clear();
    removed->clear();
    for (const PortInfo &info : after) {
        if (!beforeNames.contains(info.portName))
            added->append(info);
    }
    for (const PortInfo &info : before) {
        if (!afterNames.contains(info.portName))
            removed->append(info);
    }
}
