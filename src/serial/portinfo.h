#pragma once

#include <QMetaType>
#include <QString>

// One serial port as the enumerator reports it. The tool itself only ever uses
// portName, the name it hands to SerialPort::setPortName.
struct PortInfo
{
    QString portName;   // "ttyUSB0", or the full path of a virtual port
    QString physName;   // "/dev/ttyUSB0"
    QString friendName; // product description, where the system knows one
    QString enumName;   // "udev", "virtual", ...
    int vendorID = 0;
    int productID = 0;
};

Q_DECLARE_METATYPE(PortInfo)
