#pragma once

#include <QMetaType>
#include <QString>

// One serial port as the enumerator reports it. The window only ever uses portName,
// the name it hands to SerialPort::setPortName; keldro-cli names a board on a message
// broker by serialNumber, which stays with the adapter from one USB socket to the next.
struct PortInfo
{
    QString portName;   // "ttyUSB0", or the full path of a virtual port
    QString physName;   // "/dev/ttyUSB0"
    QString friendName; // product description, where the system knows one
    QString enumName;   // "udev", "virtual", ...
    int vendorID = 0;
    int productID = 0;
    QString serialNumber; // the USB adapter's, where the system knows one
};

Q_DECLARE_METATYPE(PortInfo)
