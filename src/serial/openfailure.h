#pragma once

#include <QString>

class SerialPort;

// Why a port did not open, told in the terms a technician can act on.
struct OpenFailure
{
    enum class Cause {
        NoPortChosen,
        NoBaudRate,
        Gone,         // no such device (any more)
        NoPermission, // the device's group is not one of the user's
        Busy,         // another program has it open
        // A port on another machine (a URL):
        BadUrl,
        ConnectionRefused, // nothing listens on that TCP port
        HostNotFound,
        TimedOut,       // no connection within RemoteLine::OpenTimeoutMs
        ComPortRefused, // the server does not take the line settings (RFC 2217)
        Other,
    };
    Cause cause = Cause::Other;
    QString text; // one line for the receive log
};

// Reads the failure of port's last open() together with the device node it names, or
// the server a URL names.
OpenFailure explainOpenFailure(const SerialPort &port);

// The device node of a listed port name: "ttyUSB0" is /dev/ttyUSB0, a virtual port
// is listed by its path already.
QString devicePath(const QString &portName);
