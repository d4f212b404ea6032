#include "porttarget.h"

#include "serial/openfailure.h"
#include "serial/porturl.h"

#include <QCommandLineParser>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<PortTarget> PortTarget::fromArgument(const QString &argument, QString *error)
{
    if (PortUrl::isUrl(argument)) {
        if (!PortUrl::parse(argument, error))
            return std::nullopt;
        return PortTarget{argument, argument};
    }
    // The system lists /dev/ttyUSB0 as ttyUSB0; anything deeper (/dev/pts/3) or
    // elsewhere is a virtual port, listed by its path.
    if (argument.startsWith(QLatin1String("/dev/")) && argument.count(QLatin1Char('/')) == 2)
        return PortTarget{argument.mid(5), argument};
    // A relative path ("./link") stays as it is; a bare name is a node in /dev.
    if (argument.contains(QLatin1Char('/')))
        return PortTarget{argument, argument};
    return PortTarget{argument, devicePath(argument)};
}

std::optional<QVector<PortTarget>> PortTarget::fromArguments(const QStringList &arguments,
                                                             QString *error)
{
    QVector<PortTarget> targets;
    for (const QString &argument : arguments) {
        const std::optional<PortTarget> target = fromArgument(argument, error);
        if (!target)
            return std::nullopt;
        for (const PortTarget &earlier : qAsConst(targets)) {
            if (earlier.path == target->path) {
                *error = QStringLiteral("%1 is named twice").arg(argument);
                return std::nullopt;
            }
        }
        targets.append(*target);
    }
    return targets;
}

bool PortTarget::isRemote() const
{
    return PortUrl::isUrl(path);
}

QString PortTarget::problem() const
{
    if (isRemote())
        return QString();
    const QByteArray local = path.toLocal8Bit();
    struct stat status = {};
    if (::stat(local.constData(), &status) != 0) {
        if (errno == ENOENT)
            return QStringLiteral("no such port: %1 (keldro-cli list shows the ports present)")
                .arg(path);
        return QStringLiteral("cannot use %1: %2")
            .arg(path, QString::fromLocal8Bit(strerror(errno)));
    }
    if (!S_ISCHR(status.st_mode))
        return QStringLiteral("%1 is not a serial device").arg(path);
    if (::access(local.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        const group *owner = ::getgrgid(status.st_gid);
        const QString groupName =
            owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(status.st_gid);
        return QStringLiteral("permission denied on %1: you are not in the group \"%2\" that "
                              "owns it. Add yourself with: sudo usermod -aG %2 $USER, then log "
                              "out and in again")
            .arg(path, groupName);
    }
    return QString();
}

QString PortTarget::openFailure(const SerialPort &port) const
{
    const QString found = problem();
    if (!found.isEmpty())
        return found;
    return explainOpenFailure(port).text;
}

void addPortArguments(QCommandLineParser &parser, bool orRecording)
{
    const QString ports = QStringLiteral("ttyUSB0, /dev/ttyUSB0, the path of a device such as a "
                                         "simulator's pseudo-terminal, or rfc2217://HOST:PORT or "
                                         "tcp://HOST:PORT for a port served by ser2net.");
    if (orRecording)
        parser.addPositionalArgument(QStringLiteral("SOURCE"),
                                     QStringLiteral("A recording (a file, or a name ending in "
                                                    ".csv, .jsonl, .ndjson or .json), or a "
                                                    "port: ") +
                                         ports,
                                     QStringLiteral("SOURCE..."));
    else
        parser.addPositionalArgument(QStringLiteral("PORT"), ports, QStringLiteral("PORT..."));
}
