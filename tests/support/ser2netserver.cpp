#include "ser2netserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QThread>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// Read from the kernel's table rather than by connecting: ser2net opens the device
// for every connection, and a probe would hold it for a moment after.
bool listens(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // "  1: 0100007F:1F40 00000000:0000 0A ...": local address, remote, state (0A listen).
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}

QString url(const char *scheme, quint16 port)
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}

} // namespace

Ser2netServer::Ser2netServer(const QString &device)
{
    const char *accepters[] = {"telnet(rfc2217),tcp", "tcp", "telnet"};
    QByteArray config = "%YAML 1.1\n---\n";
    for (int i = 0; i < 3; ++i) {
        m_ports[i] = freePort();
        config += "connection: &port" + QByteArray::number(i) + "\n  accepter: " + accepters[i] +
                  ",127.0.0.1," + QByteArray::number(m_ports[i]) + "\n  connector: serialdev," +
                  QFile::encodeName(device) + ",115200n81,local\n";
    }
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (file.open(QIODevice::WriteOnly))
        file.write(config);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

Ser2netServer::~Ser2netServer()
{
    stop();
}

bool Ser2netServer::start()
{
    // -n: in the foreground, a child the test can stop; -u: no UUCP lock files.
    m_process.start(QStringLiteral("ser2net"),
                    {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                     m_dir.filePath(QStringLiteral("ser2net.yaml"))});
    if (!m_process.waitForStarted(3000))
        return false;
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (listens(m_ports[0]) && listens(m_ports[1]) && listens(m_ports[2]))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void Ser2netServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString Ser2netServer::rfc2217Url() const
{
    return url("rfc2217", m_ports[0]);
}

QString Ser2netServer::tcpUrl() const
{
    return url("tcp", m_ports[1]);
}

QString Ser2netServer::telnetUrl() const
{
    return url("rfc2217", m_ports[2]);
}
