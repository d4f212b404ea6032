#include "serial/openfailure.h"

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
