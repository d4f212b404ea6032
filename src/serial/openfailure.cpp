#include "serial/openfailure.h"

#include "serial/porturl.h"
#include "serial/serialport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("OpenFailure", text);
}

OpenFailure failure(OpenFailure::Cause cause, const QString &text)
{
    return OpenFailure{cause, text};
}

OpenFailure explainRemoteFailure(const SerialPort &port)
{
    using Cause = OpenFailure::Cause;
    using Failure = RemoteLine::Failure;
    QString error;
    const std::optional<PortUrl> url = PortUrl::parse(port.portName(), &error);
    if (!url)
        return failure(Cause::BadUrl, error);
    const QString where = url->hostAndPort();
    switch (port.remoteOpenError()) {
    case Failure::ConnectionRefused:
        return failure(Cause::ConnectionRefused,
                       tr("%1: connection refused. Is ser2net (or another port server) running "
                          "there, on that port?")
                           .arg(where));
    case Failure::HostNotFound:
        return failure(Cause::HostNotFound,
                       tr("%1: host not found. Check the name in the URL.").arg(where));
    case Failure::TimedOut:
        return failure(Cause::TimedOut,
                       tr("%1: timed out, no answer within %2 s. Is the machine on, and "
                          "reachable from here?")
                           .arg(where)
                           .arg(RemoteLine::OpenTimeoutMs / 1000));
    case Failure::ComPortRefused:
        return failure(Cause::ComPortRefused,
                       tr("%1: the server refused the COM port option, so the baud rate cannot "
                          "be set: it serves plain Telnet. Use tcp://%1, or telnet(rfc2217) in "
                          "ser2net's accepter.")
                           .arg(where));
    case Failure::ComPortSilent:
        return failure(Cause::ComPortRefused,
                       tr("%1: the server refused the COM port option: no answer within %2 s. "
                          "Is it a raw TCP port? Then use tcp://%1.")
                           .arg(where)
                           .arg(RemoteLine::OpenTimeoutMs / 1000));
    case Failure::None:
    case Failure::Other:
        break;
    }
    return failure(Cause::Other, tr("%1 cannot be reached: %2.").arg(where, port.errorString()));
}

} // namespace

QString devicePath(const QString &portName)
{
    if (portName.startsWith(QLatin1Char('/')))
        return portName;
    return QStringLiteral("/dev/") + portName;
}

OpenFailure explainOpenFailure(const SerialPort &port)
{
    using Cause = OpenFailure::Cause;
    const QString name = port.portName();
    if (name.isEmpty())
        return failure(Cause::NoPortChosen,
                       tr("No port is chosen: plug in the adapter, then pick its port."));
    if (port.baudRate() <= 0)
        return failure(Cause::NoBaudRate, tr("The baud rate is not a number: pick or type one."));
    if (PortUrl::isUrl(name))
        return explainRemoteFailure(port);

    const QString path = devicePath(name);
    const QFileInfo node(path);
    if (!node.exists() || port.openError() == QSerialPort::DeviceNotFoundError)
        return failure(Cause::Gone,
                       tr("%1 is not there (any more): is the adapter plugged in?").arg(path));

    // Qt reports a device node without rights for the user, a device that another
    // program holds exclusively (EBUSY) and a lock file of another program alike
    // as PermissionError; the node's own rights tell them apart.
    if (port.openError() == QSerialPort::PermissionError) {
        const QByteArray nativePath = QFile::encodeName(path);
        if (::access(nativePath.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
            // Debian and its kin give serial devices to "dialout"; others use
            // "uucp" or "tty". The node's group is the one to join.
            QString group = node.group();
            if (group.isEmpty() || group == QLatin1String("root"))
                group = QStringLiteral("dialout");
            return failure(Cause::NoPermission,
                           tr("No permission to use %1: add yourself to the %2 group "
                              "(sudo usermod -aG %2 $USER), then log out and in again.")
                               .arg(path, group));
        }
        return failure(Cause::Busy, tr("%1 is in use by another program: close it (a serial "
                                       "terminal, another keldro), then try again.")
                                        .arg(path));
    }
    return failure(Cause::Other, tr("%1 cannot be opened: %2.").arg(path, port.errorString()));
}
