#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

class QCommandLineParser;
class SerialPort;

// A port as named on the command line: "ttyUSB0", "/dev/ttyUSB0", the path of a
// device the system does not list (a simulator's pseudo-terminal, a symlink), or the
// URL of a port on another machine (rfc2217://rack-pc:7000, tcp://rack-pc:7001).
struct PortTarget
{
    QString name; // in rows and messages, as the window lists it: "ttyUSB0", "/dev/pts/3"
    QString path; // what SerialPort opens: the device node "/dev/ttyUSB0", or the URL

    // Nothing, with *error saying why, for a URL that is no port URL: keldro-cli's
    // usage error.
    static std::optional<PortTarget> fromArgument(const QString &argument, QString *error);
    // Every port a command names, in order; nothing, with *error, for a URL that is no
    // port URL or a port named twice.
    static std::optional<QVector<PortTarget>> fromArguments(const QStringList &arguments,
                                                            QString *error);

    bool isRemote() const;
    // What keeps the port from being opened, found without opening it: no such
    // device, no permission (with the fix), not a character device. Empty when
    // nothing speaks against it, and always for a URL: only connecting tells.
    QString problem() const;
    // After port's open() failed although problem() found nothing: the serial layer's
    // reading of the failure (busy, gone, no permission), as the window gives it.
    QString openFailure(const SerialPort &port) const;
};

// The PORT... arguments of the commands that read boards (record, check): what a
// port may be named, for their --help. orRecording: SOURCE... for a command that takes
// recordings as well (health).
void addPortArguments(QCommandLineParser &parser, bool orRecording = false);
