#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// A board's port on another machine, shared there by a serial port server such as
// ser2net: "rfc2217://rack-pc:7000" (Telnet with the COM port option, which carries
// the line settings) or "tcp://rack-pc:7001" (the bare bytes, at the server's
// settings). Wherever a port is named, such a URL may stand instead of a device.
struct PortUrl
{
    enum class Protocol { Rfc2217, RawTcp };

    Protocol protocol = Protocol::Rfc2217;
    QString host;
    quint16 port = 0;

    // "rack-pc:7000", "[::1]:7000": how the port box lists it.
    QString hostAndPort() const;

    // Whether a port name is meant as a URL at all, well-formed or not: a device path
    // never holds "://".
    static bool isUrl(const QString &name);
    // The URL, or nothing with *error saying what is wrong with it (an unknown scheme,
    // no host, no port).
    static std::optional<PortUrl> parse(const QString &text, QString *error = nullptr);
};
