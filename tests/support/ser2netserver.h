#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's ser2net on 127.0.0.1 in front of one serial device, with a configuration of
// its own in a temporary folder: the device served on a free port as RFC 2217, on
// another as raw TCP and on a third as plain Telnet without the COM port option.
class Ser2netServer
{
public:
    explicit Ser2netServer(const QString &device);
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer &) = delete;
    Ser2netServer &operator=(const Ser2netServer &) = delete;

    // Waits until every port accepts connections; false if they did not within 5 s.
    bool start();
    void stop();

    QString rfc2217Url() const;
    QString tcpUrl() const;
    QString telnetUrl() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_ports[3] = {};
};
