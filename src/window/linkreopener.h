#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QTimer;
class SerialEnumerator;
struct PortInfo;

// Opens the link again when the port it lost comes back (the adapter plugged in
// again, the simulator restarted, the port server on another machine answering
// again), while the technician wants that. A link the technician closed stays closed.
class LinkReopener : public QObject
{
    Q_OBJECT

public:
    // open starts an attempt on the named port and tells whether it could; how the
    // attempt ended comes to openFinished().
    LinkReopener(SerialEnumerator *enumerator, std::function<bool(const QString &)> open,
                 QObject *parent = nullptr);

    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled; }
    // Whether the attempt under way is one of this reopener's.
    bool isReopening() const { return attempting; }

    // The device behind the open link went away.
    void linkLost(const QString &portName);
    // The technician opened or closed a link: nothing is waiting for a port.
    void forget();
    // The end of any open attempt on the link's port.
    void openFinished(bool opened);

private:
    void portDiscovered(const PortInfo &info);
    void tryOpen();
    void retryLater();

    std::function<bool(const QString &)> open;
    QTimer *retryTimer;
    bool enabled = false;
    bool attempting = false;
    int attempt = 0;
    QString lostPort;
};
