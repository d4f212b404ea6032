#pragma once

#include <QString>

class SerialPort;

// A port as named on the command line: "ttyUSB0", "/dev/ttyUSB0", or the path of a
// device the system does not list (a simulator's pseudo-terminal, a symlink).
struct PortTarget
{
    QString name; // in rows and messages, as the window lists it: "ttyUSB0", "/dev/pts/3"
    QString path; // the device node: "/dev/ttyUSB0"

    static PortTarget fromArgument(const QString &argument);

    // What keeps the port from being opened, found without opening it: no such
    // device, no permission (with the fix), not a character device. Empty when
    // nothing speaks against it.
    QString problem() const;
    // After port's open() failed although problem() found nothing: the serial layer's
    // reading of the failure (busy, gone, no permission), as the window gives it.
    QString openFailure(const SerialPort &port) const;
};
